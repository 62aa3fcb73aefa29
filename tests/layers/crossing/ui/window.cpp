#include "app/settings.h"
#include <jack/jack.h>
