#pragma once

namespace vennimo {

// What a drag off the rope does, chosen by where the press landed: on the paper it carries file
// copies out (into other programs, or as copies hung elsewhere on the rope); on the peg it lifts
// the prints (slide along the rope, take down, move their files into a folder or to the Trash).
// The drag types of a peg drag are named here, so that the rope, the grid and the drop surfaces
// read and write the same ones.
class ClotheslineDragIntent {
public:
    enum Value { copyPhoto, movePeg };

    constexpr ClotheslineDragIntent(Value value = copyPhoto)
        : m_value(value) {}
    constexpr operator Value() const { return m_value; }

    // Our own peg drag: one photo id per drag.
    static constexpr auto pegType = "application/x-com.tavrun.vennimo.peg";
    // The MIME type of the file a peg drop on a folder will deliver; private, so that file
    // managers do not take it for something to copy themselves.
    static constexpr auto folderContentType = "application/x-com.tavrun.vennimo.promised-content-type";
    // The file promise of a peg drop on a folder: the X Direct Save protocol. It has to be the
    // only file type offered, or file managers move or copy the file themselves.
    static constexpr auto folderPromiseType = "XdndDirectSave0";

private:
    Value m_value;
};

} // namespace vennimo
