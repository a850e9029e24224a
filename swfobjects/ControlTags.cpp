#include "swfobjects/ControlTags.h"

#include <cstdio>
#include <string>

namespace kestrova {

void TSWFSetBackgroundColor::Assign(const TBasedSWFObject& source) {
  TSWFObject::Assign(source);
  FBackgroundColor.Assign(static_cast<const TSWFSetBackgroundColor&>(source).FBackgroundColor);
}

void TSWFSetBackgroundColor::ReadFromStream(TBitsEngine& be) {
  FBackgroundColor.SetRGB(be.ReadRGB());
}

void TSWFSetBackgroundColor::WriteTagBody(TBitsEngine& be) {
  be.WriteRGB(FBackgroundColor.GetRec());
}

void TSWFSetBackgroundColor::Describe(TSWFDescription& d) const {
  char buf[16];
  std::snprintf(buf, sizeof buf, "#%02X%02X%02X", FBackgroundColor.R, FBackgroundColor.G,
                FBackgroundColor.B);
  d.Field("color", buf);
}

}  // namespace kestrova
