// What every stage is handed, and how an early stage says stop or go on.
#pragma once

#include <cstdint>

#include "core/findings.h"
#include "core/output.h"
#include "core/platform.h"

namespace quorvex {

struct RunEnv {
  Platform& System;
  Output& Out;
  // Where the stages tell what they learn; lines reach it through Out.
  FindingsSink& Findings;
};

// The verdict of a stage that may end the run (resolution up to the domain
// check). A late check returns the value it adds to the outcome instead.
struct Verdict {
  bool EndsRun = false;
  std::uint16_t Code = 0;

  static Verdict GoOn() { return {}; }
  static Verdict End(std::uint16_t code) { return {true, code}; }
};

}  // namespace quorvex
