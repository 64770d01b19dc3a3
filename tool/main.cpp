// edidload: writes the EDID in .\edid.bin onto the display outputs of the GPUs.
// Command-line arguments are ignored.
#include "tool/edid_loading_run.h"

int main()
{
    return RunEdidLoading();
}
