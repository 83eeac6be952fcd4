#include "kavo_dev.h"
