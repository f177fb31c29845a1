// The texts that name the learn target (the parameter last touched in any
// editor of the process): a line for people and three OSC addresses that
// reach it through any instance's OSC server ("/obry/" addressing).
//   name line   "Corvane LFO 1 (2) : Speed L <- Corvane DC 1 (1) Ch1 CC7"
//   by name     /obry/QVLFO/1/SpeedL     (the Learner's "Long")
//   by index    /obry/QVLFO/1/1          (the Learner's "Compact")
//   by number   /obry/2/1                (the Learner's "Short")
// With no learn target, or one whose instance is gone, the name line and the
// path by index are empty and the two other paths are "/obry/".
//
// Threads: any thread but the audio thread; takes the registry lock.
#pragma once

#include <string>

struct LearnTargetAddressTexts {
    std::string nameLine;
    std::string byName;
    std::string byIndex;
    std::string byNumber;
    bool hasTarget = false;
};

LearnTargetAddressTexts BuildLearnTargetAddressTexts();
