// One start of the program as far as the exhibition journal goes: applies the journal left in
// the storage folder, peg return included, and exits. The crash test kills one mid-copy and
// starts the next.
#include "core/ExhibitionStore.h"

#include <QString>

using namespace vennimo;

int main(int argc, char** argv) {
    if (argc != 2)
        return 64;
    const auto recovered = ExhibitionStore::recover(QString::fromLocal8Bit(argv[1]));
    return recovered.ok() ? 0 : 65;
}
