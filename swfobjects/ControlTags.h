// Control and display-list tags: the tags that run a movie's timeline.
#pragma once

#include <memory>

#include "swfobjects/SWFObject.h"

namespace kestrova {

class TSWFEnd : public TSWFObject {
 public:
  TSWFEnd() : TSWFObject(0) {}
};

class TSWFShowFrame : public TSWFObject {
 public:
  TSWFShowFrame() : TSWFObject(1) {}
};

class TSWFSetBackgroundColor : public TSWFObject {
 public:
  TSWFSetBackgroundColor() : TSWFObject(9) {}
  TSWFRGB& BackgroundColor() { return FBackgroundColor; }
  const TSWFRGB& BackgroundColor() const { return FBackgroundColor; }
  void Assign(const TBasedSWFObject& source) override;
  void ReadFromStream(TBitsEngine& be) override;
  void WriteTagBody(TBitsEngine& be) override;
  void Describe(TSWFDescription& d) const override;

 private:
  TSWFRGB FBackgroundColor;
};

}  // namespace kestrova
