// Resource ids of the setup tools.
#pragma once

#define IDI_SETUP_TOOL 101
