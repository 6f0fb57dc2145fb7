// Identifiers of the launcher's fixed resources. Never renumber them: the
// resource script and the code must agree, and other tools look them up.
#pragma once

#define IDI_SETUP_ICON 101   // icon group: 48, 32 and 16 pixels at 4, 8 and 32 bits
#define IDD_SPLASH 103       // splash dialog template, no controls
#define IDB_SPLASH 134       // splash picture, 480 x 350, 24 bits
