// The ONNX graph rewriter. A message is kept as its list of fields, so every field this does
// not touch is written back exactly as it was read; only the graph's nodes and initializers
// are taken apart.
#include "video/onnx_graph.h"

#include <cmath>
#include <cstring>
#include <map>
#include <optional>
#include <set>

namespace zqr {

namespace {

enum Wire : uint8_t { kVarint = 0, kFixed64 = 1, kBytes = 2, kFixed32 = 5 };

struct Field {
  uint32_t number = 0;
  uint8_t wire = kVarint;
  uint64_t value = 0;  // varint and fixed fields
  std::string bytes;   // length-delimited fields
};
using Message = std::vector<Field>;

// Field numbers of onnx.proto.
namespace model_field {
constexpr uint32_t kOpset = 8, kGraph = 7;
}
namespace opset_field {
constexpr uint32_t kDomain = 1;
}
namespace graph_field {
constexpr uint32_t kNode = 1, kInitializer = 5, kInput = 11, kOutput = 12;
}
namespace node_field {
constexpr uint32_t kInput = 1, kOutput = 2, kOpType = 4, kAttribute = 5, kDomain = 7;
}
namespace attr_field {
constexpr uint32_t kName = 1, kF = 2, kI = 3, kT = 5, kFloats = 7, kInts = 8, kType = 20;
constexpr uint64_t kFloat = 1, kInt = 2, kFloatsType = 6, kIntsType = 7;
}  // namespace attr_field
namespace tensor_field {
constexpr uint32_t kDims = 1, kDataType = 2, kFloatData = 4, kInt32Data = 5, kInt64Data = 7,
                   kName = 8, kRawData = 9, kDoubleData = 10, kExternal = 13;
constexpr uint64_t kFloat = 1, kInt32 = 6, kInt64 = 7, kDouble = 11;
}  // namespace tensor_field

bool ReadVarint(std::string_view data, size_t& at, uint64_t& value) {
  value = 0;
  for (int shift = 0; shift < 64; shift += 7) {
    if (at >= data.size()) return false;
    const auto byte = static_cast<uint8_t>(data[at++]);
    value |= static_cast<uint64_t>(byte & 0x7f) << shift;
    if ((byte & 0x80) == 0) return true;
  }
  return false;
}

void WriteVarint(std::string& out, uint64_t value) {
  while (value >= 0x80) {
    out.push_back(static_cast<char>((value & 0x7f) | 0x80));
    value >>= 7;
  }
  out.push_back(static_cast<char>(value));
}

bool Parse(std::string_view data, Message& out) {
  out.clear();
  size_t at = 0;
  while (at < data.size()) {
    uint64_t key = 0;
    if (!ReadVarint(data, at, key) || (key >> 3) == 0 || (key >> 3) > 0x1fffffff) return false;
    Field f;
    f.number = static_cast<uint32_t>(key >> 3);
    f.wire = static_cast<uint8_t>(key & 7);
    switch (f.wire) {
      case kVarint:
        if (!ReadVarint(data, at, f.value)) return false;
        break;
      case kFixed64:
      case kFixed32: {
        const size_t size = f.wire == kFixed64 ? 8 : 4;
        if (data.size() - at < size) return false;
        std::memcpy(&f.value, data.data() + at, size);
        at += size;
        break;
      }
      case kBytes: {
        uint64_t size = 0;
        if (!ReadVarint(data, at, size) || size > data.size() - at) return false;
        f.bytes.assign(data.substr(at, size));
        at += size;
        break;
      }
      default:
        return false;
    }
    out.push_back(std::move(f));
  }
  return true;
}

std::string Serialise(const Message& message) {
  std::string out;
  for (const Field& f : message) {
    WriteVarint(out, uint64_t{f.number} << 3 | f.wire);
    switch (f.wire) {
      case kVarint:
        WriteVarint(out, f.value);
        break;
      case kFixed64:
      case kFixed32: {
        char raw[8];
        std::memcpy(raw, &f.value, 8);
        out.append(raw, f.wire == kFixed64 ? 8 : 4);
        break;
      }
      default:
        WriteVarint(out, f.bytes.size());
        out += f.bytes;
    }
  }
  return out;
}

Field BytesField(uint32_t number, std::string bytes) {
  return Field{.number = number, .wire = kBytes, .value = 0, .bytes = std::move(bytes)};
}
Field VarintField(uint32_t number, uint64_t value) {
  return Field{.number = number, .wire = kVarint, .value = value, .bytes = {}};
}

const Field* First(const Message& m, uint32_t number) {
  for (const Field& f : m) {
    if (f.number == number) return &f;
  }
  return nullptr;
}
std::string TextOf(const Message& m, uint32_t number) {
  const Field* f = First(m, number);
  return f != nullptr && f->wire == kBytes ? f->bytes : std::string();
}

// Repeated integers, packed or one a field.
std::vector<int64_t> IntsOf(const Message& m, uint32_t number) {
  std::vector<int64_t> values;
  for (const Field& f : m) {
    if (f.number != number) continue;
    if (f.wire == kVarint) {
      values.push_back(static_cast<int64_t>(f.value));
    } else if (f.wire == kBytes) {
      size_t at = 0;
      uint64_t v = 0;
      while (at < f.bytes.size() && ReadVarint(f.bytes, at, v)) {
        values.push_back(static_cast<int64_t>(v));
      }
    }
  }
  return values;
}
// Repeated fixed-width numbers (float or double), packed or one a field.
template <typename T>
std::vector<double> FixedOf(const Message& m, uint32_t number) {
  std::vector<double> values;
  for (const Field& f : m) {
    if (f.number != number) continue;
    if (f.wire == kBytes) {
      for (size_t at = 0; at + sizeof(T) <= f.bytes.size(); at += sizeof(T)) {
        T v;
        std::memcpy(&v, f.bytes.data() + at, sizeof(T));
        values.push_back(static_cast<double>(v));
      }
    } else {
      T v;
      std::memcpy(&v, &f.value, sizeof(T));
      values.push_back(static_cast<double>(v));
    }
  }
  return values;
}

// A constant tensor of floats or integers, its values held as doubles while it is folded.
struct Constant {
  std::vector<int64_t> dims;
  uint64_t type = tensor_field::kFloat;
  std::vector<double> values;
};

std::optional<Constant> DecodeTensor(const Message& t) {
  if (First(t, tensor_field::kExternal) != nullptr) return std::nullopt;
  Constant c;
  c.dims = IntsOf(t, tensor_field::kDims);
  const Field* type = First(t, tensor_field::kDataType);
  c.type = type != nullptr ? type->value : 0;
  int64_t count = 1;
  for (const int64_t d : c.dims) count *= d;
  const std::string raw = TextOf(t, tensor_field::kRawData);
  const auto from_raw = [&]<typename T>(T) {
    for (size_t at = 0; at + sizeof(T) <= raw.size(); at += sizeof(T)) {
      T v;
      std::memcpy(&v, raw.data() + at, sizeof(T));
      c.values.push_back(static_cast<double>(v));
    }
  };
  const bool has_raw = First(t, tensor_field::kRawData) != nullptr;
  switch (c.type) {
    case tensor_field::kFloat:
      if (has_raw) {
        from_raw(float{});
      } else {
        c.values = FixedOf<float>(t, tensor_field::kFloatData);
      }
      break;
    case tensor_field::kDouble:
      if (has_raw) {
        from_raw(double{});
      } else {
        c.values = FixedOf<double>(t, tensor_field::kDoubleData);
      }
      break;
    case tensor_field::kInt64:
    case tensor_field::kInt32:
      if (has_raw && c.type == tensor_field::kInt64) {
        from_raw(int64_t{});
      } else if (has_raw) {
        from_raw(int32_t{});
      } else {
        for (const int64_t v :
             IntsOf(t, c.type == tensor_field::kInt64 ? tensor_field::kInt64Data
                                                      : tensor_field::kInt32Data)) {
          c.values.push_back(static_cast<double>(v));
        }
      }
      break;
    default:
      return std::nullopt;
  }
  if (static_cast<int64_t>(c.values.size()) != count) return std::nullopt;
  return c;
}

std::string EncodeTensor(const Constant& c, const std::string& name) {
  Message t;
  for (const int64_t d : c.dims)
    t.push_back(VarintField(tensor_field::kDims, static_cast<uint64_t>(d)));
  t.push_back(VarintField(tensor_field::kDataType, c.type));
  t.push_back(BytesField(tensor_field::kName, name));
  std::string raw;
  for (const double v : c.values) {
    const auto append = [&raw](auto x) {
      char bytes[sizeof(x)];
      std::memcpy(bytes, &x, sizeof(x));
      raw.append(bytes, sizeof(x));
    };
    switch (c.type) {
      case tensor_field::kFloat:
        append(static_cast<float>(v));
        break;
      case tensor_field::kDouble:
        append(v);
        break;
      case tensor_field::kInt32:
        append(static_cast<int32_t>(v));
        break;
      default:
        append(static_cast<int64_t>(v));
    }
  }
  t.push_back(BytesField(tensor_field::kRawData, std::move(raw)));
  return Serialise(t);
}

struct Node {
  std::vector<std::string> inputs;
  std::vector<std::string> outputs;
  std::string op;
  Message rest;  // attributes, name, domain, doc
};

Node DecodeNode(const Message& m) {
  Node n;
  for (const Field& f : m) {
    if (f.number == node_field::kInput) {
      n.inputs.push_back(f.bytes);
    } else if (f.number == node_field::kOutput) {
      n.outputs.push_back(f.bytes);
    } else if (f.number == node_field::kOpType) {
      n.op = f.bytes;
    } else {
      n.rest.push_back(f);
    }
  }
  return n;
}

std::string EncodeNode(const Node& n) {
  Message m;
  for (const std::string& in : n.inputs) m.push_back(BytesField(node_field::kInput, in));
  for (const std::string& out : n.outputs) m.push_back(BytesField(node_field::kOutput, out));
  m.push_back(BytesField(node_field::kOpType, n.op));
  m.insert(m.end(), n.rest.begin(), n.rest.end());
  return Serialise(m);
}

bool InDefaultDomain(const Node& n) {
  const std::string domain = TextOf(n.rest, node_field::kDomain);
  return domain.empty() || domain == "ai.onnx";
}

std::optional<Message> AttributeOf(const Node& n, const std::string& name) {
  for (const Field& f : n.rest) {
    if (f.number != node_field::kAttribute) continue;
    Message a;
    if (Parse(f.bytes, a) && TextOf(a, attr_field::kName) == name) return a;
  }
  return std::nullopt;
}

void AddIntsAttribute(Node& n, const std::string& name, const std::vector<double>& values) {
  Message a{BytesField(attr_field::kName, name),
            VarintField(attr_field::kType, attr_field::kIntsType)};
  for (const double v : values) {
    a.push_back(VarintField(attr_field::kInts, static_cast<uint64_t>(static_cast<int64_t>(v))));
  }
  n.rest.push_back(BytesField(node_field::kAttribute, Serialise(a)));
}

void AddFloatAttribute(Node& n, const std::string& name, double value) {
  const auto f = static_cast<float>(value);
  uint32_t bits = 0;
  std::memcpy(&bits, &f, 4);
  Message a{BytesField(attr_field::kName, name), VarintField(attr_field::kType, attr_field::kFloat),
            Field{.number = attr_field::kF, .wire = kFixed32, .value = bits, .bytes = {}}};
  n.rest.push_back(BytesField(node_field::kAttribute, Serialise(a)));
}

// A Constant node's value as a tensor; nothing for the forms this does not fold.
std::optional<Constant> ConstantNodeValue(const Node& n) {
  if (std::optional<Message> a = AttributeOf(n, "value")) {
    Message t;
    const Field* f = First(*a, attr_field::kT);
    if (f != nullptr && Parse(f->bytes, t)) return DecodeTensor(t);
    return std::nullopt;
  }
  if (std::optional<Message> a = AttributeOf(n, "value_float")) {
    const std::vector<double> v = FixedOf<float>(*a, attr_field::kF);
    if (v.size() == 1) return Constant{{}, tensor_field::kFloat, v};
  }
  if (std::optional<Message> a = AttributeOf(n, "value_floats")) {
    const std::vector<double> v = FixedOf<float>(*a, attr_field::kFloats);
    return Constant{{static_cast<int64_t>(v.size())}, tensor_field::kFloat, v};
  }
  const auto ints = [](const std::vector<int64_t>& i) {
    return std::vector<double>(i.begin(), i.end());
  };
  if (std::optional<Message> a = AttributeOf(n, "value_int")) {
    const std::vector<int64_t> v = IntsOf(*a, attr_field::kI);
    if (v.size() == 1) return Constant{{}, tensor_field::kInt64, ints(v)};
  }
  if (std::optional<Message> a = AttributeOf(n, "value_ints")) {
    const std::vector<int64_t> v = IntsOf(*a, attr_field::kInts);
    return Constant{{static_cast<int64_t>(v.size())}, tensor_field::kInt64, ints(v)};
  }
  return std::nullopt;
}

// Element-wise arithmetic on two constants of one shape, or of a shape and a single value.
std::optional<Constant> Arithmetic(const std::string& op, const Constant& a, const Constant& b) {
  const bool a_single = a.values.size() == 1;
  const bool b_single = b.values.size() == 1;
  if (a.type != b.type || (!a_single && !b_single && a.dims != b.dims)) return std::nullopt;
  Constant out = a_single && !b_single ? b : a;
  for (size_t k = 0; k < out.values.size(); ++k) {
    const double x = a.values[a_single ? 0 : k];
    const double y = b.values[b_single ? 0 : k];
    if (op == "Add") {
      out.values[k] = x + y;
    } else if (op == "Sub") {
      out.values[k] = x - y;
    } else if (op == "Mul") {
      out.values[k] = x * y;
    } else {
      if (y == 0) return std::nullopt;
      out.values[k] = out.type == tensor_field::kFloat || out.type == tensor_field::kDouble
                          ? x / y
                          : std::trunc(x / y);
    }
  }
  return out;
}

// The value of a node all of whose inputs are constants, when it is one this folds.
std::optional<Constant> Fold(const Node& n, const std::vector<const Constant*>& in) {
  if (n.outputs.size() != 1) return std::nullopt;
  const std::string& op = n.op;
  if ((op == "Add" || op == "Sub" || op == "Mul" || op == "Div") && in.size() == 2) {
    return Arithmetic(op, *in[0], *in[1]);
  }
  if (in.empty()) return std::nullopt;
  Constant out = *in[0];
  if (op == "Neg" || op == "Sqrt" || op == "Reciprocal") {
    if (op != "Neg" && out.type != tensor_field::kFloat) return std::nullopt;
    for (double& v : out.values) v = op == "Neg" ? -v : op == "Sqrt" ? std::sqrt(v) : 1.0 / v;
    return out;
  }
  if (op == "Cast") {
    const std::optional<Message> to = AttributeOf(n, "to");
    const std::vector<int64_t> type = to ? IntsOf(*to, attr_field::kI) : std::vector<int64_t>{};
    if (type.size() != 1) return std::nullopt;
    out.type = static_cast<uint64_t>(type[0]);
    if (out.type != tensor_field::kFloat && out.type != tensor_field::kInt64 &&
        out.type != tensor_field::kInt32 && out.type != tensor_field::kDouble) {
      return std::nullopt;
    }
    if (out.type != tensor_field::kFloat && out.type != tensor_field::kDouble) {
      for (double& v : out.values) v = std::trunc(v);
    }
    return out;
  }
  if (op == "Unsqueeze" || op == "Squeeze") {
    std::vector<int64_t> axes;
    if (in.size() > 1) {
      axes.assign(in[1]->values.begin(), in[1]->values.end());
    } else if (const std::optional<Message> a = AttributeOf(n, "axes")) {
      axes = IntsOf(*a, attr_field::kInts);
    }
    if (op == "Squeeze") {
      std::vector<int64_t> dims;
      const auto rank = static_cast<int64_t>(out.dims.size());
      for (int64_t k = 0; k < rank; ++k) {
        bool dropped = axes.empty() && out.dims[static_cast<size_t>(k)] == 1;
        for (const int64_t axis : axes) dropped = dropped || axis == k || axis + rank == k;
        if (!dropped) dims.push_back(out.dims[static_cast<size_t>(k)]);
      }
      out.dims = dims;
      return out;
    }
    const auto rank = static_cast<int64_t>(out.dims.size() + axes.size());
    std::set<int64_t> at;
    for (const int64_t axis : axes) at.insert(axis < 0 ? axis + rank : axis);
    std::vector<int64_t> dims;
    size_t next = 0;
    for (int64_t k = 0; k < rank; ++k) {
      if (at.contains(k)) {
        dims.push_back(1);
      } else if (next < out.dims.size()) {
        dims.push_back(out.dims[next++]);
      } else {
        return std::nullopt;
      }
    }
    out.dims = dims;
    return out;
  }
  return std::nullopt;
}

// Nodes whose constant inputs older opsets took as attributes: the input's place and the
// attribute's name. Clip's bounds are floats; the others' are axes.
struct InputAttribute {
  const char* op;
  size_t input;
  const char* name;
  bool single_float;
};
constexpr InputAttribute kInputAttributes[] = {
    {"Clip", 1, "min", true},
    {"Clip", 2, "max", true},
    {"Squeeze", 1, "axes", false},
    {"Unsqueeze", 1, "axes", false},
    {"ReduceMean", 1, "axes", false},
    {"ReduceSum", 1, "axes", false},
    {"ReduceMax", 1, "axes", false},
    {"ReduceMin", 1, "axes", false},
    {"ReduceProd", 1, "axes", false},
    {"ReduceL2", 1, "axes", false},
    {"ReduceSumSquare", 1, "axes", false},
};

class Rewriter {
 public:
  bool Load(const Message& graph) {
    for (const Field& f : graph) {
      if (f.number == graph_field::kNode) {
        Message m;
        if (!Parse(f.bytes, m)) return false;
        nodes_.push_back(DecodeNode(m));
      } else if (f.number == graph_field::kInitializer) {
        Message t;
        if (!Parse(f.bytes, t)) return false;
        const std::string name = TextOf(t, tensor_field::kName);
        initializers_.emplace_back(name, f.bytes);
        if (std::optional<Constant> c = DecodeTensor(t)) constants_[name] = *c;
      } else {
        if (f.number == graph_field::kOutput) {
          Message v;
          if (Parse(f.bytes, v)) graph_outputs_.insert(TextOf(v, 1));
        }
        rest_.push_back(f);
      }
    }
    return true;
  }

  int32_t Run() {
    int32_t rewrites = 0;
    for (bool changed = true; changed;) {
      changed = false;
      for (size_t k = 0; k < nodes_.size(); ++k) {
        if (!InDefaultDomain(nodes_[k])) continue;
        if (DropIdentity(k) || FoldNode(k)) {
          nodes_.erase(nodes_.begin() + static_cast<std::ptrdiff_t>(k));
          changed = true;
          ++rewrites;
          break;
        }
        if (MoveInputsToAttributes(nodes_[k])) ++rewrites;
      }
    }
    return rewrites;
  }

  Message Store() const {
    std::set<std::string> used;
    for (const Node& n : nodes_) used.insert(n.inputs.begin(), n.inputs.end());
    used.insert(graph_outputs_.begin(), graph_outputs_.end());
    Message graph;
    for (const Node& n : nodes_) graph.push_back(BytesField(graph_field::kNode, EncodeNode(n)));
    for (const auto& [name, bytes] : initializers_) {
      if (used.contains(name)) graph.push_back(BytesField(graph_field::kInitializer, bytes));
    }
    for (const Field& f : rest_) {
      // Older exporters list the initializers among the inputs too: one dropped goes from there.
      if (f.number == graph_field::kInput) {
        Message v;
        if (Parse(f.bytes, v)) {
          const std::string name = TextOf(v, 1);
          if (IsInitializer(name) && !used.contains(name)) continue;
        }
      }
      graph.push_back(f);
    }
    return graph;
  }

 private:
  bool IsInitializer(const std::string& name) const {
    for (const auto& entry : initializers_) {
      if (entry.first == name) return true;
    }
    return false;
  }

  void Rename(const std::string& from, const std::string& to) {
    for (Node& n : nodes_) {
      for (std::string& in : n.inputs) {
        if (in == from) in = to;
      }
    }
  }

  bool DropIdentity(size_t k) {
    const Node& n = nodes_[k];
    if (n.op != "Identity" || n.inputs.size() != 1 || n.outputs.size() != 1) return false;
    // An Identity that makes a graph output keeps the output's name.
    if (graph_outputs_.contains(n.outputs[0])) return false;
    Rename(n.outputs[0], n.inputs[0]);
    return true;
  }

  void AddConstant(const std::string& name, const Constant& c) {
    initializers_.emplace_back(name, EncodeTensor(c, name));
    constants_[name] = c;
  }

  bool FoldNode(size_t k) {
    const Node& n = nodes_[k];
    if (n.outputs.size() != 1 || graph_outputs_.contains(n.outputs[0])) return false;
    if (n.op == "Constant") {
      const std::optional<Constant> c = ConstantNodeValue(n);
      if (!c) return false;
      AddConstant(n.outputs[0], *c);
      return true;
    }
    std::vector<const Constant*> in;
    for (const std::string& name : n.inputs) {
      const auto found = constants_.find(name);
      if (name.empty() || found == constants_.end()) return false;
      in.push_back(&found->second);
    }
    const std::optional<Constant> c = Fold(n, in);
    if (!c) return false;
    AddConstant(n.outputs[0], *c);
    return true;
  }

  bool MoveInputsToAttributes(Node& n) {
    bool moved = false;
    for (const InputAttribute& row : kInputAttributes) {
      if (n.op != row.op || n.inputs.size() <= row.input) continue;
      const std::string& name = n.inputs[row.input];
      if (name.empty()) continue;
      const auto found = constants_.find(name);
      if (found == constants_.end()) continue;
      const Constant& c = found->second;
      if (row.single_float) {
        if (c.values.size() != 1) continue;
        AddFloatAttribute(n, row.name, c.values[0]);
      } else {
        AddIntsAttribute(n, row.name, c.values);
      }
      n.inputs[row.input].clear();
      moved = true;
    }
    while (moved && !n.inputs.empty() && n.inputs.back().empty()) n.inputs.pop_back();
    return moved;
  }

  std::vector<Node> nodes_;
  std::vector<std::pair<std::string, std::string>> initializers_;  // name, tensor bytes
  std::map<std::string, Constant> constants_;
  std::set<std::string> graph_outputs_;
  Message rest_;
};

// The declared shape of the first graph input that is not an initializer.
std::vector<int64_t> InputDims(const Message& graph) {
  std::set<std::string> initializers;
  for (const Field& f : graph) {
    Message t;
    if (f.number == graph_field::kInitializer && Parse(f.bytes, t)) {
      initializers.insert(TextOf(t, tensor_field::kName));
    }
  }
  for (const Field& f : graph) {
    Message value;
    if (f.number != graph_field::kInput || !Parse(f.bytes, value)) continue;
    if (initializers.contains(TextOf(value, 1))) continue;
    Message type;
    Message tensor;
    Message shape;
    if (!Parse(TextOf(value, 2), type) || !Parse(TextOf(type, 1), tensor) ||
        !Parse(TextOf(tensor, 2), shape)) {
      return {};
    }
    std::vector<int64_t> dims;
    for (const Field& d : shape) {
      Message dim;
      if (d.number != 1 || !Parse(d.bytes, dim)) continue;
      const Field* v = First(dim, 1);
      dims.push_back(v != nullptr && v->wire == kVarint && static_cast<int64_t>(v->value) > 0
                         ? static_cast<int64_t>(v->value)
                         : -1);
    }
    return dims;
  }
  return {};
}

}  // namespace

bool NormaliseOnnxGraph(std::string_view model, NormalisedGraph& out, std::string& failure) {
  Message top;
  const Field* graph_field = nullptr;
  if (model.empty() || !Parse(model, top) ||
      (graph_field = First(top, model_field::kGraph)) == nullptr || graph_field->wire != kBytes) {
    failure = "it is not an ONNX model";
    return false;
  }
  bool has_default_opset = false;
  for (const Field& f : top) {
    Message opset;
    if (f.number == model_field::kOpset && Parse(f.bytes, opset)) {
      const std::string domain = TextOf(opset, opset_field::kDomain);
      has_default_opset = has_default_opset || domain.empty() || domain == "ai.onnx";
    }
  }
  Message graph;
  Rewriter rewriter;
  if (!has_default_opset || !Parse(graph_field->bytes, graph) || !rewriter.Load(graph)) {
    failure = "it is not an ONNX model";
    return false;
  }
  out.rewrites = rewriter.Run();
  const Message rewritten = rewriter.Store();
  out.input_dims = InputDims(rewritten);
  for (Field& f : top) {
    if (f.number == model_field::kGraph) f.bytes = Serialise(rewritten);
  }
  out.bytes = Serialise(top);
  return true;
}

}  // namespace zqr
