#include "splash/shared_state.h"

HINSTANCE appInstance = nullptr;
int32_t splashPending = 1;
int32_t splashAlive = 1;
uint8_t launchStarted = 0;
uint8_t cancelRequested = 0;
uint8_t runEnding = 0;
