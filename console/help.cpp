#include "console/console.h"

bool Console::showHelp() {
    // Each command word stands under the key that selects it.
    print("\n");
    print("       [F1]  [F2]  [F3]  [F4]\n");
    print("       help        auto  load\n");
    print("[F9]+  help              dload\n");
    print("[F10]+ help  quit        dsave\n");
    print("\n");
    print("options -bBAUDRATE -pPORT e.g. -pCOM1 -b115200\n");
    handBack();
    return true;
}
