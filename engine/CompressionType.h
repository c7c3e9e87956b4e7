// The compression methods the builder offers; the ordinal is the service's type code.
#pragma once

namespace kp {

enum TCompressionType { ctNone = 0, ctMsZip = 1, ctQuantum = 2, ctLzx = 3 };

} // namespace kp
