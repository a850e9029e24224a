// The tag model: one class per SWF tag and per action record.
#pragma once

#include "swfobjects/SWFObject.h"
#include "swfobjects/TagCatalogue.h"
#include "swfobjects/ControlTags.h"
