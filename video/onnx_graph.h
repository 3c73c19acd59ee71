// A depth model's ONNX graph rewritten into the forms OpenCV's DNN reader (4.6) accepts, as
// exporters of today write graphs it refuses: Identity nodes dropped, the constant inputs of
// Clip, Squeeze, Unsqueeze and the reductions made into the attributes of older opsets,
// Constant nodes and simple computations on constants folded into initializers. Works on the
// protobuf bytes themselves, so it needs no protobuf library and builds wherever we do.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zqr {

struct NormalisedGraph {
  std::string bytes;                // the model rewritten, ready for the reader
  std::vector<int64_t> input_dims;  // the first input's declared shape; -1 where not fixed
  int32_t rewrites = 0;             // nodes dropped, folded or given attributes
};

// False with the reason when `model` is not an ONNX model (or one this cannot read).
bool NormaliseOnnxGraph(std::string_view model, NormalisedGraph& out, std::string& failure);

}  // namespace zqr
