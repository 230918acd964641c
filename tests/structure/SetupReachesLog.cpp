// Built only to fail: the setup tools write no log, so the log's headers are
// out of their reach.
#include "DbgLog.h"
#include "SetupConstants.h"

int main()
{
    LOG_ERRCODE(SUB_PRODUCT_CODES[0][0]);
    return 0;
}
