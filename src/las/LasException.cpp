#include "las/LasException.h"

#include "las/LasMessages.h"

#include <cstring>

CStopRequested::CStopRequested() noexcept : CLasException(lasmsg::kStopped, false) {}

const char* CauseText(int cause) {
    if (cause == 0) return "";
    // The description table, not strerror's shared buffer: jobs fail on
    // several threads at once.
    const char* text = strerrordesc_np(cause);
    return text ? text : "Unknown system error";
}

std::string DescribeFailure(const CLasException& e) {
    std::string text = e.Message();
    if (e.cause != 0) text += std::string(" (") + CauseText(e.cause) + ")";
    return text;
}
