#include "las/LasException.h"

#include "las/LasMessages.h"

CStopRequested::CStopRequested() noexcept : CLasException(lasmsg::kStopped, false) {}
