#pragma once

#include <QImage>
#include <QRect>
#include <QString>
#include <QStringList>

namespace vennimo::test {

// What the X server shows in an area of the primary screen, whoever drew it.
QImage grabScreenArea(const QRect& area);
// The share of pixels that differ clearly between two grabs of the same area (every other
// pixel is compared).
double changedShare(const QImage& a, const QImage& b);
// The pixels of a grab that are black or nearly so, each channel below `below`: a translucent
// window's clear pixels as the X server shows them where no compositing manager blends them.
int nearBlackPixels(const QImage& shot, int below = 16);
// Runs a program to its end and answers its output; fails the current test when it cannot.
QString runProgram(const QString& program, const QStringList& arguments);

} // namespace vennimo::test
