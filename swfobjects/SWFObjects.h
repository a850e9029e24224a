// The tag model: one class per SWF tag and per action record.
#pragma once

#include "swfobjects/ActionTags.h"
#include "swfobjects/Actions.h"
#include "swfobjects/BitmapTags.h"
#include "swfobjects/ButtonTags.h"
#include "swfobjects/ControlTags.h"
#include "swfobjects/DataObject.h"
#include "swfobjects/FontTags.h"
#include "swfobjects/SWFObject.h"
#include "swfobjects/ShapeTags.h"
#include "swfobjects/SoundTags.h"
#include "swfobjects/SpriteTags.h"
#include "swfobjects/TagCatalogue.h"
#include "swfobjects/VideoTags.h"
