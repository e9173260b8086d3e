#include "console/keys.hpp"
