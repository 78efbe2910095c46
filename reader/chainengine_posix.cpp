#include "chainengine.h"

namespace vantoril {

// No chain engine of the system's here: OpenSSL and the anchors decide.
bool systemChainVerdict(const std::string &, const std::vector<std::string> &, const std::vector<std::string> &,
                        const std::time_t *, bool, SystemChainVerdict &)
{
    return false;
}

} // namespace vantoril
