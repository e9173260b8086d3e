#include "console/console.hpp"
