#!/usr/bin/python3
"""Writes the small ONNX depth models the tests and the benchmark run, into the folder given.

follow.onnx    the depth is the picture's mean of R, G and B (any input size): a known
               function of the picture that the exported depth must follow.
exported.onnx  the same function written as exporters write it, opset 13: Identity on the
               weights, Clip's bounds and Squeeze's axes as inputs, a Constant node.
fixed.onnx     a fixed 1x3x48x80 input (an aspect unlike the clips'), output [1,H,W].
midas_like.onnx  an encoder-decoder of about MiDaS small's cost at 256x256, random weights.
"""
import sys

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper


def save(model, folder, name):
    onnx.checker.check_model(model)
    onnx.save(model, f"{folder}/{name}")


def grey_weights():
    return numpy_helper.from_array(np.full((1, 3, 1, 1), 1.0 / 3.0, np.float32), "w")


def follow(folder):
    x = helper.make_tensor_value_info("image", TensorProto.FLOAT, ["n", 3, "h", "w"])
    y = helper.make_tensor_value_info("depth", TensorProto.FLOAT, ["n", 1, "h", "w"])
    node = helper.make_node("Conv", ["image", "w"], ["depth"], kernel_shape=[1, 1])
    graph = helper.make_graph([node], "follow", [x], [y], [grey_weights()])
    save(helper.make_model(graph, opset_imports=[helper.make_opsetid("", 11)]), folder,
         "follow.onnx")


def exported(folder):
    x = helper.make_tensor_value_info("image", TensorProto.FLOAT, ["n", 3, "h", "w"])
    y = helper.make_tensor_value_info("depth", TensorProto.FLOAT, ["n", "h", "w"])
    inits = [
        grey_weights(),
        numpy_helper.from_array(np.array(-100.0, np.float32), "low"),
        numpy_helper.from_array(np.array(100.0, np.float32), "high"),
        numpy_helper.from_array(np.array([1], np.int64), "axes"),
    ]
    nodes = [
        helper.make_node("Identity", ["w"], ["w_used"]),
        helper.make_node("Constant", [], ["two"],
                         value=numpy_helper.from_array(np.array(2.0, np.float32))),
        helper.make_node("Conv", ["image", "w_used"], ["grey"], kernel_shape=[1, 1]),
        helper.make_node("Mul", ["grey", "two"], ["doubled"]),
        helper.make_node("Clip", ["doubled", "low", "high"], ["clipped"]),
        helper.make_node("Squeeze", ["clipped", "axes"], ["depth"]),
    ]
    graph = helper.make_graph(nodes, "exported", [x], [y], inits)
    save(helper.make_model(graph, opset_imports=[helper.make_opsetid("", 13)]), folder,
         "exported.onnx")


def fixed(folder):
    x = helper.make_tensor_value_info("image", TensorProto.FLOAT, [1, 3, 48, 80])
    y = helper.make_tensor_value_info("depth", TensorProto.FLOAT, [1, 48, 80])
    nodes = [
        helper.make_node("Conv", ["image", "w"], ["grey"], kernel_shape=[1, 1]),
        helper.make_node("Squeeze", ["grey"], ["depth"], axes=[1]),
    ]
    graph = helper.make_graph(nodes, "fixed", [x], [y], [grey_weights()])
    save(helper.make_model(graph, opset_imports=[helper.make_opsetid("", 11)]), folder,
         "fixed.onnx")


def midas_like(folder, size=256):
    """Strided 3x3 convolutions down to 1/32 (as an EfficientNet-lite encoder), then a
    decoder that upsamples and fuses each level back to full size; random weights."""
    rng = np.random.default_rng(7)
    nodes, inits = [], []

    def conv(src, cin, cout, stride, name, kernel=3, relu=True):
        w = rng.standard_normal((cout, cin, kernel, kernel)).astype(np.float32)
        w *= np.sqrt(2.0 / (cin * kernel * kernel))
        inits.append(numpy_helper.from_array(w, name + "_w"))
        inits.append(numpy_helper.from_array(np.zeros(cout, np.float32), name + "_b"))
        pad = kernel // 2
        out = name + ("_c" if relu else "")
        nodes.append(helper.make_node("Conv", [src, name + "_w", name + "_b"], [out],
                                      kernel_shape=[kernel, kernel], strides=[stride, stride],
                                      pads=[pad] * 4))
        if relu:
            nodes.append(helper.make_node("Relu", [out], [name]))
        return name

    widths = [32, 64, 128, 256, 384]
    skips, src, cin = [], "image", 3
    for level, cout in enumerate(widths):
        src = conv(src, cin, cout, 2, f"down{level}")
        src = conv(src, cout, cout, 1, f"down{level}b")
        skips.append((src, cout))
        cin = cout
    features = 128
    src = conv(src, cin, features, 1, "top", kernel=1)
    scales = numpy_helper.from_array(np.array([1, 1, 2, 2], np.float32), "scales")
    inits.append(scales)
    inits.append(numpy_helper.from_array(np.zeros(0, np.float32), "roi"))
    for level in range(len(widths) - 2, -1, -1):
        up = f"up{level}"
        nodes.append(helper.make_node("Resize", [src, "roi", "scales"], [up], mode="nearest"))
        lateral = conv(skips[level][0], skips[level][1], features, 1, f"lat{level}", kernel=1)
        nodes.append(helper.make_node("Add", [up, lateral], [f"sum{level}"]))
        src = conv(f"sum{level}", features, features, 1, f"fuse{level}")
    nodes.append(helper.make_node("Resize", [src, "roi", "scales"], ["full"], mode="nearest"))
    src = conv("full", features, 32, 1, "head")
    conv(src, 32, 1, 1, "out", kernel=1, relu=False)
    nodes.append(helper.make_node("Squeeze", ["out"], ["depth"], axes=[1]))
    x = helper.make_tensor_value_info("image", TensorProto.FLOAT, [1, 3, size, size])
    y = helper.make_tensor_value_info("depth", TensorProto.FLOAT, [1, size, size])
    graph = helper.make_graph(nodes, "midas_like", [x], [y], inits)
    save(helper.make_model(graph, opset_imports=[helper.make_opsetid("", 11)]), folder,
         "midas_like.onnx")


if __name__ == "__main__":
    out = sys.argv[1]
    follow(out)
    exported(out)
    fixed(out)
    if "--with-midas-like" in sys.argv:
        midas_like(out)
