// Every plug-in class the factory can create.
#pragma once

#include "plugins/Placeholder.h"
