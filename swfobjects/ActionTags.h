#pragma once

#include "swfobjects/SWFObject.h"
