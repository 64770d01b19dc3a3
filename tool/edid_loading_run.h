// One run of the tool: clear the EDID overrides of every GPU's outputs, set the
// EDID from edid.bin on the target output, read back and print every output
// that answers.
#pragma once

// Exit codes of the run.
#define EDIDLOAD_EXIT_DONE 0
#define EDIDLOAD_EXIT_INITIALIZE_FAILED 1
#define EDIDLOAD_EXIT_SET_FAILED 2
#define EDIDLOAD_EXIT_STOPPED (-1)

// The smallest edid.bin that is written to a display: one 128-byte EDID block.
#define EDID_MINIMUM_BYTES 128u

int RunEdidLoading(void);
