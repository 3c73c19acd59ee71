// Storage of the conversion subsystem's process-wide state.
#include "convert/convert_state.h"

namespace zqr {

ConversionState Conversion;

}  // namespace zqr
