#pragma once
// Resource numbers shared by the resource scripts and the code.
#define IDI_APP_ICON 101
#define IDB_BACKGROUND 102
#define IDP_TRACK 201
#define IDP_FILL 202
