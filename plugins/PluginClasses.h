// Every plug-in class the factory can create.
#pragma once

#include "plugins/Placeholder.h"
#include "plugins/acencoder/ObryCorvaneACEncoder.h"
#include "plugins/brink/ObryCorvaneBrinkController.h"
#include "plugins/carro/ObryCorvaneCarroController.h"
#include "plugins/cvinput/ObryCorvaneCVInput.h"
#include "plugins/cvtomidi/ObryCorvaneCVToMIDI.h"
#include "plugins/cvtoosc/ObryCorvaneCVToOSC.h"
#include "plugins/dc/ObryCorvaneDC.h"
#include "plugins/dunmore/ObryCorvaneDunmoreCombiner.h"
#include "plugins/function/ObryCorvaneFunction.h"
#include "plugins/learner/ObryCorvaneLearner.h"
#include "plugins/lfo/ObryCorvaneLFO.h"
#include "plugins/smux/ObryCorvaneSMUX.h"
#include "plugins/steplfo/ObryCorvaneStepLFO.h"
#include "plugins/voicecontroller/ObryCorvaneVoiceController.h"
