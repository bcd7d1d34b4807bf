// The report page's own style and script, inlined into every page.
#pragma once

namespace quorvex::report {

extern const char PageStyle[];
extern const char PageScript[];

}  // namespace quorvex::report
