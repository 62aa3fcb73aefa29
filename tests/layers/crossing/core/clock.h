#pragma once
#include "audio/ltc_input.h"
