#include "swfobjects/Actions.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <stdexcept>
#include <typeinfo>
#include <unordered_map>

namespace kestrova {

namespace {

std::string Hex2(std::uint8_t code) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "0x%02X", code);
  return buf;
}

// Body readers must stay inside their record: a damaged file could otherwise make one action
// swallow the next ones.
TBodyReader ActionBody(TBitsEngine& be, const TSWFAction& action) {
  return TBodyReader(be, be.Stream.Position() + action.ActionLength, ActionName(action.ActionCode));
}

void WriteCountedWord(TBitsEngine& be, std::size_t count, const char* what) {
  if (count > 0xFFFF) throw std::length_error(std::string("Too many ") + what + " for an action");
  be.WriteWord(static_cast<std::uint16_t>(count));
}

}  // namespace

// ---- root ----

void TSWFAction::ReadData(TBitsEngine& be) {
  (void)be;
}

namespace {

// Appends the action's record to scratch: the code byte, and for codes from 0x80 the length and
// the body (the body is written in place and its length put in front of it once known).
void AppendActionRecord(TBitsEngine& se, TMemoryStream& scratch, const TSWFAction& action) {
  const std::uint8_t code = action.ActionCode;
  if (code == TSWFActionByteCode::kCode || code == TSWFOffsetMarker::kCode) {
    action.WriteActionBody(se);
    se.FlushLastByte(true);
    return;
  }
  se.WriteByte(code);
  if (code < 0x80) return;
  const std::uint64_t lengthAt = scratch.Position();
  se.WriteWord(0);
  action.WriteActionBody(se);
  se.FlushLastByte(true);
  scratch.Write(action.TrailingBytes.data(), action.TrailingBytes.size());
  const std::uint64_t length = scratch.Position() - lengthAt - 2;
  // A longer body cannot be framed: its length field would lie.
  if (length > 0xFFFF) {
    throw std::length_error(std::string("Action ") + ActionName(code) + " body of " +
                            std::to_string(length) + " bytes exceeds 65535");
  }
  scratch.Data()[lengthAt] = static_cast<std::uint8_t>(length);
  scratch.Data()[lengthAt + 1] = static_cast<std::uint8_t>(length >> 8);
}

}  // namespace

void TSWFAction::WriteToStream(TBitsEngine& be) const {
  TMemoryStream scratch;
  TBitsEngine se(scratch, be);
  AppendActionRecord(se, scratch, *this);
  be.WriteBytes(scratch.Data(), static_cast<std::int64_t>(scratch.Size()));
}

std::vector<const TSWFMarkerRef*> TSWFAction::MarkerRefs() const {
  const auto refs = const_cast<TSWFAction*>(this)->MarkerRefs();
  return std::vector<const TSWFMarkerRef*>(refs.begin(), refs.end());
}

// ---- catalogue ----

#define KESTROVA_ACTION_ROW_PLAIN(code, cls, name, version) {code, #cls, name, version, false},
#define KESTROVA_ACTION_ROW_BODY(code, cls, name, version) {code, #cls, name, version, true},
const TActionCatalogueRow kActionCatalogue[] = {
    KESTROVA_ACTION_CATALOGUE(KESTROVA_ACTION_ROW_PLAIN, KESTROVA_ACTION_ROW_BODY)};
const std::size_t kActionCatalogueSize = sizeof kActionCatalogue / sizeof kActionCatalogue[0];

std::unique_ptr<TSWFAction> CreateActionByCode(std::uint8_t actionCode) {
#define KESTROVA_ACTION_CREATE(code, cls, name, version) \
  case code:                                             \
    return std::make_unique<cls>();
  switch (actionCode) {
    KESTROVA_ACTION_CATALOGUE(KESTROVA_ACTION_CREATE, KESTROVA_ACTION_CREATE)
    default:
      return nullptr;
  }
}

// Copies, assignments and comparisons go through each class's compiler-made operations; the
// catalogue says which class a code has, and typeid makes sure the object really is of it.
std::unique_ptr<TSWFAction> TSWFAction::Clone() const {
#define KESTROVA_ACTION_CLONE(code, cls, name, version)             \
  case code:                                                        \
    if (typeid(*this) == typeid(cls))                               \
      return std::make_unique<cls>(static_cast<const cls&>(*this)); \
    break;
  switch (ActionCode) {
    KESTROVA_ACTION_CATALOGUE(KESTROVA_ACTION_CLONE, KESTROVA_ACTION_CLONE)
    default:
      break;
  }
  throw std::invalid_argument("Cannot copy an action of code " + Hex2(ActionCode));
}

void TSWFAction::Assign(const TSWFAction& source) {
  if (typeid(source) != typeid(*this)) {
    throw std::invalid_argument(std::string("Cannot assign action ") +
                                ActionName(source.ActionCode) + " to " + ActionName(ActionCode));
  }
#define KESTROVA_ACTION_ASSIGN(code, cls, name, version)          \
  case code:                                                      \
    if (typeid(*this) == typeid(cls)) {                           \
      static_cast<cls&>(*this) = static_cast<const cls&>(source); \
      return;                                                     \
    }                                                             \
    break;
  switch (ActionCode) {
    KESTROVA_ACTION_CATALOGUE(KESTROVA_ACTION_ASSIGN, KESTROVA_ACTION_ASSIGN)
    default:
      break;
  }
  throw std::invalid_argument("Cannot assign an action of code " + Hex2(ActionCode));
}

bool TSWFAction::Equals(const TSWFAction& other) const {
  if (typeid(other) != typeid(*this)) return false;
#define KESTROVA_ACTION_EQUALS(code, cls, name, version)                       \
  case code:                                                                   \
    if (typeid(*this) == typeid(cls)) {                                        \
      return static_cast<const cls&>(*this) == static_cast<const cls&>(other); \
    }                                                                          \
    break;
  switch (ActionCode) {
    KESTROVA_ACTION_CATALOGUE(KESTROVA_ACTION_EQUALS, KESTROVA_ACTION_EQUALS)
    default:
      break;
  }
  return *this == other;
}

const char* ActionName(std::uint8_t actionCode) {
#define KESTROVA_ACTION_NAME(code, cls, name, version) \
  case code:                                           \
    return name;
  switch (actionCode) {
    KESTROVA_ACTION_CATALOGUE(KESTROVA_ACTION_NAME, KESTROVA_ACTION_NAME)
    default:
      return "Unknown";
  }
}

// ---- markers ----

void TSWFOffsetMarker::Describe(TSWFDescription& d) const {
  d.Field("label", QuoteText(Label));
  if (!InList) d.Field("placed", "no");
}

TSWFOffsetMarker& TSWFMarkerRef::Marker() {
  if (!FMarker) {
    FOwned = std::make_unique<TSWFOffsetMarker>();
    FMarker = FOwned.get();
  }
  return *FMarker;
}

std::unique_ptr<TSWFOffsetMarker> TSWFMarkerRef::TakeForList() {
  if (!FOwned) throw std::logic_error("The marker is absent or already in a list");
  FOwned->InList = true;
  return std::move(FOwned);
}

void TSWFMarkerRef::Link(TSWFOffsetMarker* marker) {
  FOwned.reset();
  FMarker = marker;
}

void TSWFMarkerRef::Reset() {
  FOwned.reset();
  FMarker = nullptr;
}

TSWFMarkerRef::TSWFMarkerRef(const TSWFMarkerRef& other)
    : FOwned(other.FOwned ? std::make_unique<TSWFOffsetMarker>(*other.FOwned) : nullptr),
      FMarker(FOwned.get()) {}

TSWFMarkerRef& TSWFMarkerRef::operator=(const TSWFMarkerRef& other) {
  TSWFMarkerRef copy(other);
  *this = std::move(copy);
  return *this;
}

bool TSWFMarkerRef::operator==(const TSWFMarkerRef& other) const {
  if (!FMarker || !other.FMarker) return !FMarker && !other.FMarker;
  return *FMarker == *other.FMarker;
}

TSWFOffsetMarker& InsertMarker(TSWFActionList& list, std::size_t index, TSWFMarkerRef& ref) {
  if (index > list.size()) throw std::out_of_range("Marker index past the end of the list");
  ref.Marker();
  auto marker = ref.TakeForList();
  TSWFOffsetMarker& result = *marker;
  list.insert(list.begin() + static_cast<std::ptrdiff_t>(index), std::move(marker));
  return result;
}

std::vector<TSWFMarkerSlot> TSWFMarkedField::Slots(std::int32_t fieldOffset) const {
  const TSWFOffsetMarker* marker = Ref.Get();
  if (FExplicit || !marker || !marker->Active) return {};
  TSWFMarkerSlot slot;
  slot.Marker = marker;
  slot.FieldOffset = fieldOffset;
  return {slot};
}

namespace {

std::string MarkerTarget(const TSWFMarkerRef& ref) {
  const TSWFOffsetMarker* m = ref.Get();
  return m ? QuoteText(m->Label) : std::string("none");
}

void DescribeMarked(TSWFDescription& d, const char* name, std::int64_t value, bool isExplicit,
                    const TSWFMarkerRef& ref) {
  if (isExplicit) {
    d.Field(name, value);
  } else {
    d.Field(name, "marker");
  }
  if (ref.Get()) d.Field("target", MarkerTarget(ref));
}

}  // namespace

// ---- simple bodies ----

void TSWFActionGetUrl::ReadData(TBitsEngine& be) {
  const std::string raw = be.ReadString();
  const std::string held = Utf8ToCp1252(raw);
  URLAsIs = Cp1252ToUtf8(held) != raw;
  URL = URLAsIs ? raw : held;
  Target = be.ReadString();
}

void TSWFActionGetUrl::WriteActionBody(TBitsEngine& be) const {
  be.WriteString(URL, true, !URLAsIs);
  be.WriteString(Target);
}

void TSWFActionGetUrl::Describe(TSWFDescription& d) const {
  d.Field("url", QuoteText(URL));
  d.Field("target", QuoteText(Target));
}

void TSWFActionWaitForFrame::ReadData(TBitsEngine& be) {
  Frame = be.ReadWord();
  SkipCount = be.ReadByte();
}

void TSWFActionWaitForFrame::WriteActionBody(TBitsEngine& be) const {
  be.WriteWord(Frame);
  be.WriteByte(SkipCount);
}

void TSWFActionWaitForFrame::Describe(TSWFDescription& d) const {
  d.Field("frame", Frame);
  d.Field("skip", SkipCount);
}

void TSWFActionConstantPool::ReadData(TBitsEngine& be) {
  TBodyReader body = ActionBody(be, *this);
  const std::uint16_t count = be.ReadWord();
  ConstantPool.clear();
  for (std::uint16_t i = 0; i < count; ++i) {
    ConstantPool.push_back(be.ReadString());
    body.Check("a constant");
  }
}

void TSWFActionConstantPool::WriteActionBody(TBitsEngine& be) const {
  WriteCountedWord(be, ConstantPool.size(), "constants");
  for (const auto& c : ConstantPool) be.WriteString(c);
}

// Lists are appended to piece by piece, never as `"," + temporary`: GCC 12 at -O3 inlines the
// latter into a false -Wrestrict warning inside std::string.
void TSWFActionConstantPool::Describe(TSWFDescription& d) const {
  d.Field("count", static_cast<std::int64_t>(ConstantPool.size()));
  std::string all;
  for (const auto& c : ConstantPool) (all += all.empty() ? "" : ",") += QuoteText(c);
  d.Field("constants", "[" + all + "]");
}

void TSWFActionGetURL2::ReadData(TBitsEngine& be) {
  const std::uint8_t b = be.ReadByte();
  SendVarsMethod = b >> 6;
  LoadTargetFlag = (b & 0x02) != 0;
  LoadVariablesFlag = (b & 0x01) != 0;
}

void TSWFActionGetURL2::WriteActionBody(TBitsEngine& be) const {
  be.WriteByte(static_cast<std::uint8_t>(((SendVarsMethod & 3) << 6) | (LoadTargetFlag << 1) |
                                         LoadVariablesFlag));
}

void TSWFActionGetURL2::Describe(TSWFDescription& d) const {
  static const char* const kMethods[] = {"none", "GET", "POST", "3"};
  d.Field("method", kMethods[SendVarsMethod & 3]);
  if (LoadTargetFlag) d.Field("loadTarget", "sprite");
  if (LoadVariablesFlag) d.Field("loadVariables", "yes");
}

void TSWFActionGotoFrame2::ReadData(TBitsEngine& be) {
  const std::uint8_t b = be.ReadByte();
  SceneBiasFlag = (b & 0x02) != 0;
  PlayFlag = (b & 0x01) != 0;
  if (SceneBiasFlag) SceneBias = be.ReadWord();
}

void TSWFActionGotoFrame2::WriteActionBody(TBitsEngine& be) const {
  be.WriteByte(static_cast<std::uint8_t>((SceneBiasFlag << 1) | PlayFlag));
  if (SceneBiasFlag) be.WriteWord(SceneBias);
}

void TSWFActionGotoFrame2::Describe(TSWFDescription& d) const {
  d.Field("play", PlayFlag ? "yes" : "no");
  if (SceneBiasFlag) d.Field("sceneBias", SceneBias);
}

// ---- actions with markers ----

void TSWFActionJump::Describe(TSWFDescription& d) const {
  DescribeMarked(d, "offset", BranchOffset(), OffsetExplicit(), FOffset.Ref);
}

void TSWFActionWith::Describe(TSWFDescription& d) const {
  DescribeMarked(d, "size", Size(), SizeExplicit(), FSize.Ref);
}

void TSWFActionDefineFunction::ReadData(TBitsEngine& be) {
  TBodyReader body = ActionBody(be, *this);
  FunctionName = be.ReadString();
  const std::uint16_t count = be.ReadWord();
  Params.clear();
  for (std::uint16_t i = 0; i < count; ++i) {
    Params.push_back(be.ReadString());
    body.Check("a parameter");
  }
  FCodeSize.Set(be.ReadWord());
}

void TSWFActionDefineFunction::WriteActionBody(TBitsEngine& be) const {
  be.WriteString(FunctionName);
  WriteCountedWord(be, Params.size(), "parameters");
  for (const auto& p : Params) be.WriteString(p);
  FCodeSize.Write(be);
}

void TSWFActionDefineFunction::Describe(TSWFDescription& d) const {
  d.Field("name", QuoteText(FunctionName));
  std::string all;
  for (const auto& p : Params) (all += all.empty() ? "" : ",") += QuoteText(p);
  d.Field("params", "[" + all + "]");
  DescribeMarked(d, "codeSize", CodeSize(), CodeSizeExplicit(), FCodeSize.Ref);
}

void TSWFActionDefineFunction2::ReadData(TBitsEngine& be) {
  TBodyReader body = ActionBody(be, *this);
  FunctionName = be.ReadString();
  const std::uint16_t count = be.ReadWord();
  RegisterCount = be.ReadByte();
  const std::uint8_t flags = be.ReadByte();
  PreloadParentFlag = flags & 0x80;
  PreloadRootFlag = flags & 0x40;
  SuppressSuperFlag = flags & 0x20;
  PreloadSuperFlag = flags & 0x10;
  SuppressArgumentsFlag = flags & 0x08;
  PreloadArgumentsFlag = flags & 0x04;
  SuppressThisFlag = flags & 0x02;
  PreloadThisFlag = flags & 0x01;
  PreloadGlobalFlag = be.ReadByte() & 0x01;
  Parameters.clear();
  for (std::uint16_t i = 0; i < count; ++i) {
    TSWFFunctionParam p;
    p.Register = be.ReadByte();
    p.Name = be.ReadString();
    Parameters.push_back(std::move(p));
    body.Check("a parameter");
  }
  FCodeSize.Set(be.ReadWord());
}

void TSWFActionDefineFunction2::WriteActionBody(TBitsEngine& be) const {
  be.WriteString(FunctionName);
  WriteCountedWord(be, Parameters.size(), "parameters");
  be.WriteByte(RegisterCount);
  be.WriteByte(static_cast<std::uint8_t>(
      (PreloadParentFlag << 7) | (PreloadRootFlag << 6) | (SuppressSuperFlag << 5) |
      (PreloadSuperFlag << 4) | (SuppressArgumentsFlag << 3) | (PreloadArgumentsFlag << 2) |
      (SuppressThisFlag << 1) | PreloadThisFlag));
  be.WriteByte(PreloadGlobalFlag ? 1 : 0);
  for (const auto& p : Parameters) {
    be.WriteByte(p.Register);
    be.WriteString(p.Name);
  }
  FCodeSize.Write(be);
}

void TSWFActionDefineFunction2::Describe(TSWFDescription& d) const {
  d.Field("name", QuoteText(FunctionName));
  d.Field("registers", RegisterCount);
  std::string all;
  for (const auto& p : Parameters) {
    (all += all.empty() ? "" : ",") += QuoteText(p.Name);
    if (p.Register) all += "@r" + std::to_string(p.Register);
  }
  d.Field("params", "[" + all + "]");
  const std::pair<bool, const char*> flags[] = {
      {PreloadParentFlag, "preloadParent"},         {PreloadRootFlag, "preloadRoot"},
      {SuppressSuperFlag, "suppressSuper"},         {PreloadSuperFlag, "preloadSuper"},
      {SuppressArgumentsFlag, "suppressArguments"}, {PreloadArgumentsFlag, "preloadArguments"},
      {SuppressThisFlag, "suppressThis"},           {PreloadThisFlag, "preloadThis"},
      {PreloadGlobalFlag, "preloadGlobal"}};
  std::string set;
  for (const auto& [on, name] : flags) {
    if (on) (set += set.empty() ? "" : ",") += name;
  }
  if (!set.empty()) d.Field("flags", set);
  DescribeMarked(d, "codeSize", CodeSize(), CodeSizeExplicit(), FCodeSize.Ref);
}

void TSWFActionTry::ReadData(TBitsEngine& be) {
  const std::uint8_t flags = be.ReadByte();
  CatchInRegisterFlag = flags & 0x04;
  FinallyBlockFlag = flags & 0x02;
  CatchBlockFlag = flags & 0x01;
  for (int i = 0; i < 3; ++i) SetSize(i, be.ReadWord());
  if (CatchInRegisterFlag) {
    CatchRegister = be.ReadByte();
  } else {
    CatchName = be.ReadString();
  }
}

void TSWFActionTry::WriteActionBody(TBitsEngine& be) const {
  be.WriteByte(static_cast<std::uint8_t>((CatchInRegisterFlag << 2) | (FinallyBlockFlag << 1) |
                                         CatchBlockFlag));
  for (const std::uint16_t size : FSizes) be.WriteWord(FSizesExplicit ? size : 0);
  if (CatchInRegisterFlag) {
    be.WriteByte(CatchRegister);
  } else {
    be.WriteString(CatchName);
  }
}

// The blocks follow the record one after another: the first is counted from the record's end,
// each next one from the end of the block before it.
std::vector<TSWFMarkerSlot> TSWFActionTry::MarkerSlots() const {
  std::vector<TSWFMarkerSlot> slots;
  if (FSizesExplicit) return slots;
  const bool present[3] = {true, CatchBlockFlag, FinallyBlockFlag};
  for (int i = 0; i < 3; ++i) {
    const TSWFOffsetMarker* marker = FRefs[i].Get();
    if (!present[i] || !marker || !marker->Active) continue;
    TSWFMarkerSlot slot;
    slot.Marker = marker;
    slot.FieldOffset = 1 + 2 * i;
    slot.ForwardOnly = true;
    slot.Chained = true;
    slots.push_back(slot);
  }
  return slots;
}

std::vector<std::int64_t> TSWFActionTry::MarkerOffsets() const {
  const std::int64_t tryEnd = TrySize();
  const std::int64_t catchEnd = tryEnd + (CatchBlockFlag ? CatchSize() : 0);
  const std::int64_t finallyEnd = catchEnd + (FinallyBlockFlag ? FinallySize() : 0);
  return {tryEnd, CatchBlockFlag && CatchSize() ? catchEnd : 0,
          FinallyBlockFlag && FinallySize() ? finallyEnd : 0};
}

void TSWFActionTry::Describe(TSWFDescription& d) const {
  const char* names[3] = {"try", "catch", "finally"};
  const bool present[3] = {true, CatchBlockFlag, FinallyBlockFlag};
  for (int i = 0; i < 3; ++i) {
    if (!present[i]) continue;
    if (FSizesExplicit) d.Field(std::string(names[i]) + "Size", FSizes[i]);
    if (FRefs[i].Get()) d.Field(std::string(names[i]) + "End", MarkerTarget(FRefs[i]));
  }
  if (CatchInRegisterFlag) {
    d.Field("catchRegister", CatchRegister);
  } else {
    d.Field("catchName", QuoteText(CatchName));
  }
}

// ---- Push ----

namespace {

bool TypeFits(const TPushVariant& v, std::uint8_t type) {
  switch (v.index()) {
    case 0:
      return type == 3;
    case 1:
      return type == 2;
    case 2:
      return type == 5;
    case 3:
      return type == 4 || type == 7 || type == 8 || type == 9;
    case 4:
    case 5:
      return type == 1 || type == 6;
    default:
      return type == 0;
  }
}

double AsDouble(const TPushVariant& v) {
  if (const auto* f = std::get_if<float>(&v)) return *f;
  return std::get<double>(v);
}

}  // namespace

std::size_t TSWFActionPush::AddValue(TPushVariant value) {
  static constexpr std::uint8_t kTypeOfKind[] = {3, 2, 5, 7, 1, 6, 0};
  if (const auto* s = std::get_if<std::string>(&value)) {
    if (*s == "FlashVar_undefined") {
      value = TPushUndefined{};
    } else if (*s == "FlashVar_null") {
      value = TPushNull{};
    }
  }
  TPushValueInfo info;
  info.ValueType = kTypeOfKind[value.index()];
  info.Value = std::move(value);
  FValues.push_back(std::move(info));
  return FValues.size() - 1;
}

bool TSWFActionPush::SetValueType(std::size_t index, std::uint8_t type) {
  if (index >= FValues.size() || !TypeFits(FValues[index].Value, type)) return false;
  FValues[index].ValueType = type;
  return true;
}

std::uint16_t TSWFActionPush::MinVersion() const {
  for (const auto& v : FValues) {
    if (v.ValueType > 1) return 5;
  }
  return 4;
}

void TSWFActionPush::ReadData(TBitsEngine& be) {
  const std::uint64_t start = be.Stream.Position();
  FValues.clear();
  while (be.Stream.Position() - start < ActionLength) {
    TPushValueInfo v;
    v.ValueType = be.ReadByte();
    switch (v.ValueType) {
      case 0:
        v.Value = be.ReadString();
        break;
      case 1:
        v.Value = std::bit_cast<float>(be.ReadDWord());
        break;
      case 2:
        v.Value = TPushNull{};
        break;
      case 3:
        v.Value = TPushUndefined{};
        break;
      case 4:
      case 8:
        v.Value = std::int64_t(be.ReadByte());
        break;
      case 5:
        v.Value = be.ReadByte() != 0;
        break;
      case 6: {
        const std::uint64_t high = be.ReadDWord();
        v.Value = std::bit_cast<double>((high << 32) | be.ReadDWord());
        break;
      }
      case 7:
        v.Value = std::int64_t(static_cast<std::int32_t>(be.ReadDWord()));
        break;
      case 9:
        v.Value = std::int64_t(be.ReadWord());
        break;
      default:
        throw std::runtime_error("Push value of unknown type " + std::to_string(v.ValueType));
    }
    FValues.push_back(std::move(v));
  }
}

void TSWFActionPush::WriteActionBody(TBitsEngine& be) const {
  for (const auto& v : FValues) {
    be.WriteByte(v.ValueType);
    switch (v.ValueType) {
      case 0:
        be.WriteString(std::get<std::string>(v.Value));
        break;
      case 1:
        be.WriteDWord(std::bit_cast<std::uint32_t>(static_cast<float>(AsDouble(v.Value))));
        break;
      case 4:
      case 8:
        be.WriteByte(static_cast<std::uint8_t>(std::get<std::int64_t>(v.Value)));
        break;
      case 5:
        be.WriteByte(std::get<bool>(v.Value) ? 1 : 0);
        break;
      case 6: {
        const auto bits = std::bit_cast<std::uint64_t>(AsDouble(v.Value));
        be.WriteDWord(static_cast<std::uint32_t>(bits >> 32));
        be.WriteDWord(static_cast<std::uint32_t>(bits));
        break;
      }
      case 7:
        be.WriteDWord(static_cast<std::uint32_t>(std::get<std::int64_t>(v.Value)));
        break;
      case 9:
        be.WriteWord(static_cast<std::uint16_t>(std::get<std::int64_t>(v.Value)));
        break;
      default:  // null and undefined carry no data
        break;
    }
  }
}

std::string DescribePushValue(const TPushValueInfo& v) {
  static const char* const kTypes[] = {"string",  "float",  "null",    "undefined", "register",
                                       "boolean", "double", "integer", "constant",  "constant16"};
  std::string s = v.ValueType < 10 ? kTypes[v.ValueType] : "type" + std::to_string(v.ValueType);
  char buf[40];
  switch (v.Value.index()) {
    case 2:
      return s + (std::get<bool>(v.Value) ? " true" : " false");
    case 3:
      return s + " " + std::to_string(std::get<std::int64_t>(v.Value));
    case 4:
    case 5:
      std::snprintf(buf, sizeof buf, v.Value.index() == 4 ? "%.9g" : "%.17g", AsDouble(v.Value));
      return s + " " + buf;
    case 6:
      return s + " " + QuoteText(std::get<std::string>(v.Value));
    default:
      return s;
  }
}

void TSWFActionPush::Describe(TSWFDescription& d) const {
  std::string all;
  for (const auto& v : FValues) all += (all.empty() ? "" : ", ") + DescribePushValue(v);
  d.Field("values", "[" + all + "]");
}

// ---- raw bytes ----

void TSWFActionByteCode::WriteActionBody(TBitsEngine& be) const {
  be.WriteBytes(Data.data(), static_cast<std::int64_t>(Data.size()));
}

void TSWFActionByteCode::Describe(TSWFDescription& d) const {
  d.Field("size", static_cast<std::int64_t>(Data.size()));
  std::string bytes;
  char buf[4];
  for (std::size_t i = 0; i < Data.size() && i < 16; ++i) {
    std::snprintf(buf, sizeof buf, "%02X", Data[i]);
    (bytes += i ? " " : "") += buf;
  }
  if (Data.size() > 16) bytes += " ...";
  d.Field("bytes", "[" + bytes + "]");
}

// ---- lists ----

std::int64_t ActionSize(const TSWFAction& action) {
  if (action.ActionCode == TSWFOffsetMarker::kCode) return 0;
  if (action.ActionCode == TSWFActionByteCode::kCode) {
    return static_cast<std::int64_t>(static_cast<const TSWFActionByteCode&>(action).Data.size());
  }
  return action.ActionCode < 0x80 ? 1 : std::int64_t(action.ActionLength) + 3;
}

namespace {

[[noreturn]] void ActionError(std::uint8_t code, std::uint64_t position, const std::string& what) {
  throw std::runtime_error(std::string("Action ") + ActionName(code) + " (" + Hex2(code) +
                           ") at position " + std::to_string(position) + ": " + what);
}

// A record of a code without a class, kept whole.
std::unique_ptr<TSWFAction> RawRecord(std::vector<std::uint8_t> bytes) {
  auto raw = std::make_unique<TSWFActionByteCode>();
  raw->Data = std::move(bytes);
  raw->ActionLength = static_cast<std::uint16_t>(raw->Data.size());
  return raw;
}

std::unique_ptr<TSWFAction> ReadActionRecord(TBitsEngine& be, std::uint8_t code,
                                             std::uint64_t recordStart, std::uint64_t end) {
  TStream& s = be.Stream;
  // The pseudo codes are never read from a file as such.
  std::unique_ptr<TSWFAction> action;
  if (code != TSWFActionByteCode::kCode && code != TSWFOffsetMarker::kCode) {
    action = CreateActionByCode(code);
  }
  if (code < 0x80) return action ? std::move(action) : RawRecord({code});
  if (end - s.Position() < 2) ActionError(code, recordStart, "its length is cut off");
  const std::uint16_t length = be.ReadWord();
  const std::uint64_t bodyStart = s.Position();
  if (length > end - bodyStart) {
    ActionError(code, recordStart,
                "its length " + std::to_string(length) + " runs past the end of the action list");
  }
  if (!action) {
    std::vector<std::uint8_t> bytes = {code, static_cast<std::uint8_t>(length),
                                       static_cast<std::uint8_t>(length >> 8)};
    const auto body = s.ReadBytes(length);
    bytes.insert(bytes.end(), body.begin(), body.end());
    return RawRecord(std::move(bytes));
  }
  action->ActionLength = length;
  action->ReadData(be);
  const std::uint64_t consumed = s.Position() - bodyStart;
  if (consumed > length) ActionError(code, recordStart, "its body overruns its length");
  // Bytes a body leaves unread are kept, so the next record is read in step and a rewrite keeps
  // the record's length.
  if (consumed < length) action->TrailingBytes = s.ReadBytes(length - consumed);
  return action;
}

// Labels the branch targets of the actions read from index first on with inert markers; the
// actions keep their read values, so writing the list again gives the same bytes. A target must
// fall on an action boundary: after the referring action for a forward offset, at or before it for
// a backward one. Boundaries are found by binary search and the list is rebuilt once, so a large
// list full of branches costs O(n log n).
void PlaceMarkers(TSWFActionList& list, std::size_t first) {
  const std::size_t count = list.size() - first;
  std::vector<std::int64_t> start(count + 1, 0);  // start[count] is the end of the list
  for (std::size_t j = 0; j < count; ++j) start[j + 1] = start[j] + ActionSize(*list[first + j]);
  // before[j]: markers that go before the j-th action read (j == count: at the end).
  // (An empty vector allocates nothing; a deque per action would.)
  std::vector<std::vector<std::unique_ptr<TSWFAction>>> before(count + 1);
  int labelNumber = 0;
  for (std::size_t j = 0; j < count; ++j) {
    TSWFAction& action = *list[first + j];
    const auto refs = action.MarkerRefs();
    const auto offsets = action.MarkerOffsets();
    for (std::size_t k = 0; k < refs.size() && k < offsets.size(); ++k) {
      const std::int64_t d = offsets[k];
      if (d == 0) continue;
      TSWFOffsetMarker& marker = refs[k]->Marker();
      marker.Active = false;
      marker.JumpBack = d < 0;
      const std::int64_t target = start[j + 1] + d;
      const auto it = std::lower_bound(start.begin(), start.end(), target);
      const auto place = static_cast<std::size_t>(it - start.begin());
      const bool onBoundary = it != start.end() && *it == target;
      if (!onBoundary || (d > 0 ? place <= j : place > j)) {
        marker.Label = "Error Size offset: " + std::to_string(d);
        continue;
      }
      marker.Label = "label " + std::to_string(++labelNumber);
      // Like a walk that inserts each marker next to the last action it counted: a forward one
      // right after the action before its place, a backward one right before the action at it.
      if (d > 0) {
        before[place].insert(before[place].begin(), refs[k]->TakeForList());
      } else {
        before[place].push_back(refs[k]->TakeForList());
      }
    }
  }
  TSWFActionList rebuilt;
  rebuilt.reserve(list.size() + static_cast<std::size_t>(labelNumber));
  for (std::size_t j = 0; j < first; ++j) rebuilt.push_back(std::move(list[j]));
  for (std::size_t j = 0; j <= count; ++j) {
    for (auto& m : before[j]) rebuilt.push_back(std::move(m));
    if (j < count) rebuilt.push_back(std::move(list[first + j]));
  }
  list = std::move(rebuilt);
}

}  // namespace

bool ReadActionList(TBitsEngine& be, TSWFActionList& list, std::int64_t byteCount) {
  if (byteCount < 0) throw std::runtime_error("Action list of negative size");
  TStream& s = be.Stream;
  const std::uint64_t start = s.Position();
  const std::uint64_t end = start + static_cast<std::uint64_t>(byteCount);
  const std::size_t first = list.size();
  bool ended = false;
  while (s.Position() < end) {
    const std::uint64_t recordStart = s.Position();
    const std::uint8_t code = be.ReadByte();
    if (code == 0) {
      ended = true;
      break;
    }
    list.push_back(ReadActionRecord(be, code, recordStart, end));
  }
  PlaceMarkers(list, first);
  return ended;
}

namespace {

// A field to fill in once the list is laid out: where it stands in the scratch stream and what
// it refers to.
struct TPendingField {
  std::uint64_t Position;
  std::size_t Action;  // index in the list
  TSWFMarkerSlot Slot;
};

// Puts the distances to the markers into the laid-out list. start[i] is where item i begins
// (a marker takes no bytes, so it stands where the next record begins); start[n] is the end.
void FillMarkerFields(TMemoryStream& scratch, const TSWFActionList& list,
                      const std::vector<std::uint64_t>& start,
                      const std::vector<TPendingField>& fields) {
  std::unordered_map<const TSWFAction*, std::size_t> markerIndex;
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (list[i]->ActionCode == TSWFOffsetMarker::kCode) markerIndex[list[i].get()] = i;
  }
  std::size_t chainAction = SIZE_MAX;  // the action whose previous slot chainFrom belongs to
  std::size_t chainFrom = SIZE_MAX;    // list index of that slot's marker, or none
  for (const TPendingField& f : fields) {
    if (f.Action != chainAction) chainFrom = SIZE_MAX;
    chainAction = f.Action;
    const auto it = markerIndex.find(f.Slot.Marker);
    const std::size_t previous = chainFrom;
    // A marker of no list, or behind a block that only counts forward, gives 0 and is no base.
    if (it == markerIndex.end()) continue;
    const std::size_t at = it->second;
    if (f.Slot.ForwardOnly && at < f.Action) continue;
    chainFrom = at;
    std::int64_t base = static_cast<std::int64_t>(start[f.Action + 1]);
    if (f.Slot.Chained && previous != SIZE_MAX && previous < at) {
      base = static_cast<std::int64_t>(start[previous]);
    }
    const auto value = static_cast<std::uint16_t>(static_cast<std::int64_t>(start[at]) - base);
    scratch.Data()[f.Position] = static_cast<std::uint8_t>(value);
    scratch.Data()[f.Position + 1] = static_cast<std::uint8_t>(value >> 8);
  }
}

}  // namespace

void WriteActionList(TBitsEngine& be, const TSWFActionList& list) {
  be.FlushLastByte(true);
  TMemoryStream scratch;
  TBitsEngine se(scratch, be);
  std::vector<std::uint64_t> start(list.size() + 1, 0);
  std::vector<TPendingField> fields;
  for (std::size_t i = 0; i < list.size(); ++i) {
    const TSWFAction& action = *list[i];
    start[i] = scratch.Position();
    AppendActionRecord(se, scratch, action);
    for (const TSWFMarkerSlot& slot : action.MarkerSlots()) {
      const std::uint64_t bodyStart = start[i] + 3;
      const std::uint64_t fieldsEnd = scratch.Position() - action.TrailingBytes.size();
      const std::uint64_t at = slot.FieldOffset >= 0
                                   ? bodyStart + static_cast<std::uint64_t>(slot.FieldOffset)
                                   : fieldsEnd - static_cast<std::uint64_t>(-slot.FieldOffset);
      fields.push_back({at, i, slot});
    }
  }
  start[list.size()] = scratch.Position();
  if (!fields.empty()) FillMarkerFields(scratch, list, start, fields);
  be.WriteBytes(scratch.Data(), static_cast<std::int64_t>(scratch.Size()));
}

void ReadActionBlock(TBitsEngine& be, TSWFActionList& list, std::uint64_t limit, bool parse) {
  const std::uint64_t start = be.Stream.Position();
  if (limit < start) throw ESWFParseError("Action block starts past its end", -1, start);
  if (parse) {
    ReadActionList(be, list, static_cast<std::int64_t>(limit - start));
    return;
  }
  if (limit == start) return;
  auto raw = std::make_unique<TSWFActionByteCode>();
  raw->Data = be.Stream.ReadBytes(static_cast<std::size_t>(limit - start));
  if (raw->Data.back() == 0) raw->Data.pop_back();
  raw->ActionLength = static_cast<std::uint16_t>(std::min<std::size_t>(raw->Data.size(), 0xFFFF));
  list.push_back(std::move(raw));
}

void WriteActionBlock(TBitsEngine& be, const TSWFActionList& list) {
  WriteActionList(be, list);
  be.WriteByte(0);
}

void CopyActionList(const TSWFActionList& source, TSWFActionList& target) {
  const std::size_t base = target.size();
  std::unordered_map<const TSWFAction*, std::size_t> sourceIndex;
  target.reserve(base + source.size());
  for (std::size_t i = 0; i < source.size(); ++i) {
    target.push_back(source[i]->Clone());
    if (source[i]->ActionCode == TSWFOffsetMarker::kCode) sourceIndex[source[i].get()] = i;
  }
  if (sourceIndex.empty()) return;
  for (std::size_t i = 0; i < source.size(); ++i) {
    const auto from = static_cast<const TSWFAction&>(*source[i]).MarkerRefs();
    const auto to = target[base + i]->MarkerRefs();
    for (std::size_t k = 0; k < from.size() && k < to.size(); ++k) {
      const TSWFOffsetMarker* m = from[k]->Get();
      if (!m || !m->InList) continue;
      const auto it = sourceIndex.find(m);
      if (it == sourceIndex.end()) continue;
      to[k]->Link(static_cast<TSWFOffsetMarker*>(target[base + it->second].get()));
    }
  }
}

TSWFActionList::TSWFActionList(const TSWFActionList& other) : Base() {
  CopyActionList(other, *this);
}

TSWFActionList& TSWFActionList::operator=(const TSWFActionList& other) {
  TSWFActionList copy(other);
  *this = std::move(copy);
  return *this;
}

bool TSWFActionList::operator==(const TSWFActionList& other) const {
  if (size() != other.size()) return false;
  for (std::size_t i = 0; i < size(); ++i) {
    if (!(*this)[i]->Equals(*other[i])) return false;
  }
  return true;
}

std::uint64_t FindEndActions(TBitsEngine& be, std::uint64_t limit) {
  TStream& s = be.Stream;
  const std::uint64_t start = s.Position();
  const std::uint64_t end = std::min<std::uint64_t>(limit, s.Size());
  std::uint64_t result = start;
  std::uint64_t pos = start;
  std::uint8_t b[2];
  while (pos < end) {
    s.SetPosition(pos);
    s.ReadBuffer(b, 1);
    ++pos;
    if (b[0] == 0) {
      result = pos;
      break;
    }
    if (b[0] >= 0x80) {
      if (end - pos < 2) break;
      s.ReadBuffer(b, 2);
      pos += 2 + (b[0] | (b[1] << 8));
    }
  }
  s.SetPosition(start);
  return result;
}

void DescribeActionList(const TSWFActionList& list, TSWFDescription& d, int depth) {
  std::int64_t offset = 0;
  for (const auto& action : list) {
    TSWFDescription a;
    action->Describe(a);
    if (!action->TrailingBytes.empty()) {
      a.Field("extra", static_cast<std::int64_t>(action->TrailingBytes.size()));
    }
    char head[48];
    std::snprintf(head, sizeof head, "%5lld: %s %s", static_cast<long long>(offset),
                  Hex2(action->ActionCode).c_str(), ActionName(action->ActionCode));
    d.Line(std::string(head) + (a.Fields.empty() ? "" : " " + a.Fields), depth);
    offset += ActionSize(*action);
  }
}

std::uint16_t ActionListMinVersion(const TSWFActionList& list) {
  std::uint16_t v = 3;
  for (const auto& action : list) v = std::max(v, action->MinVersion());
  return v;
}

}  // namespace kestrova
