#include "transport/http_status.h"

bool IsTransientHttpStatus(long status) { return status == 408 || status == 429 || status >= 500; }
