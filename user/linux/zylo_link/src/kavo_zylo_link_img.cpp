#include "kavo_zylo_link.h"
