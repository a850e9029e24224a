// The tag model: one class per SWF tag and per action record.
#pragma once

#include "swfobjects/SWFObject.h"
#include "swfobjects/TagCatalogue.h"
#include "swfobjects/Actions.h"
#include "swfobjects/ActionTags.h"
#include "swfobjects/ControlTags.h"
#include "swfobjects/ShapeTags.h"
#include "swfobjects/BitmapTags.h"
#include "swfobjects/FontTags.h"
#include "swfobjects/SoundTags.h"
#include "swfobjects/ButtonTags.h"
#include "swfobjects/SpriteTags.h"
