// The build settings of one viewer variant. CMake compiles this file once per variant with the
// values of DUOSCOPE_WINDOWED, DUOSCOPE_NETWORK, DUOSCOPE_EXTENDED_HELP and
// DUOSCOPE_PICK_CHARACTER, so switching one rebuilds this file and relinks.
#include "core/settings.h"

#ifndef DUOSCOPE_WINDOWED_VALUE
#define DUOSCOPE_WINDOWED_VALUE 0
#endif
#ifndef DUOSCOPE_NETWORK_VALUE
#define DUOSCOPE_NETWORK_VALUE 0
#endif
#ifndef DUOSCOPE_EXTENDED_HELP_VALUE
#define DUOSCOPE_EXTENDED_HELP_VALUE 0
#endif
#ifndef DUOSCOPE_PICK_CHARACTER_VALUE
#define DUOSCOPE_PICK_CHARACTER_VALUE 0
#endif

bool g_bWindowed = DUOSCOPE_WINDOWED_VALUE != 0;
bool g_bNetwork = DUOSCOPE_NETWORK_VALUE != 0;
bool g_bShowExtendedHelp = DUOSCOPE_EXTENDED_HELP_VALUE != 0;
const int32_t kStartPhase = DUOSCOPE_PICK_CHARACTER_VALUE ? PickCharacter : PlaceCharacters;
int32_t g_nPhase = kStartPhase;
