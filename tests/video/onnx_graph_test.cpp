// The graph rewriter against OpenCV's own reader: a graph as exporters write it is refused
// as it stands and runs, computing the same, once rewritten; what is not a model is refused.
#include <gtest/gtest.h>
#include <opencv2/dnn.hpp>

#include <string>

#include "tests/support/test_support.h"
#include "video/onnx_graph.h"

namespace zqr {
namespace {

std::string Model(const char* name) {
  return test::ReadFile(std::string(ZQR_SOURCE_DIR) + "/tests/video/models/" + name);
}

TEST(OnnxGraph, AnExportersGraphRunsOnlyOnceRewritten) {
  const std::string bytes = Model("exported.onnx");
  ASSERT_FALSE(bytes.empty());
  EXPECT_THROW(cv::dnn::readNetFromONNX(bytes.data(), bytes.size()), cv::Exception);

  NormalisedGraph graph;
  std::string failure;
  ASSERT_TRUE(NormaliseOnnxGraph(bytes, graph, failure)) << failure;
  EXPECT_GE(graph.rewrites, 4);  // the Identity, the Constant, the Mul and two inputs moved
  EXPECT_EQ(graph.input_dims, (std::vector<int64_t>{-1, 3, -1, -1}));
  cv::dnn::Net net = cv::dnn::readNetFromONNX(graph.bytes.data(), graph.bytes.size());
  // Twice the mean of the channels, clipped to +-100: the rewritten graph computes what the
  // exported one says.
  const int sizes[] = {1, 3, 4, 6};
  cv::Mat input(4, sizes, CV_32F);
  for (size_t k = 0; k < input.total(); ++k) input.ptr<float>()[k] = static_cast<float>(k % 7) * 9;
  net.setInput(input);
  const cv::Mat out = net.forward();
  ASSERT_EQ(out.dims, 3);
  ASSERT_EQ(out.total(), 24u);
  for (int k = 0; k < 24; ++k) {
    const float* in = input.ptr<float>();
    const float mean = (in[k] + in[24 + k] + in[48 + k]) / 3;
    EXPECT_NEAR(out.ptr<float>()[k], std::min(100.0f, 2 * mean), 1e-3) << k;
  }
}

TEST(OnnxGraph, ReadsTheDeclaredInputAndRefusesWhatIsNotAModel) {
  NormalisedGraph graph;
  std::string failure;
  ASSERT_TRUE(NormaliseOnnxGraph(Model("fixed.onnx"), graph, failure)) << failure;
  EXPECT_EQ(graph.input_dims, (std::vector<int64_t>{1, 3, 48, 80}));
  EXPECT_EQ(graph.rewrites, 0);

  const std::string whole = Model("follow.onnx");
  for (const std::string& bytes : {std::string(), std::string("not a model\n"),
                                   whole.substr(0, whole.size() / 2), std::string("\x08\x07", 2)}) {
    failure.clear();
    EXPECT_FALSE(NormaliseOnnxGraph(bytes, graph, failure)) << bytes.size();
    EXPECT_EQ(failure, "it is not an ONNX model");
  }
}

}  // namespace
}  // namespace zqr
