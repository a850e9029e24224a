// The movie builder: movie, images, shapes and edges, placements, sprites, external movies.
#pragma once

#include "flashobjects/FlashExternalMovie.h"
#include "flashobjects/FlashImage.h"
#include "flashobjects/FlashMovie.h"
#include "flashobjects/FlashObject.h"
#include "flashobjects/FlashShape.h"
#include "flashobjects/FlashSprite.h"
