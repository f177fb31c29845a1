// The factory: a new plug-in for the host's current id (0: the shell), or
// null for an unknown id. Host's thread of the entry call.
#pragma once

#include "framework/AudioEffect.h"

AudioEffect* createEffectInstance(audioMasterCallback audioMaster);
