#pragma once
#define IDS_TEST_99 900
#define IDS_TEST_100 901
#define IDS_TEST_250 902
#define IDS_TEST_MISSING 999
