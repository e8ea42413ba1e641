#!/usr/bin/env bash
# The listed-lines soak, outside the test command: the provider with 1 000
# lines over TLS to pbxsim making random traffic while the driver places,
# answers, drops and closes calls; memory and threads sampled, every request
# completed once (bench/session/lines_soak.cpp says what is checked).
# usage: scripts/soak.sh [SECONDS [LINES [CALLS_PER_SECOND]]]   (default 240 1000 20)
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-240}
lines=${2:-1000}
traffic=${3:-20}
export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}
[ -f build/native/build.ninja ] || cmake --preset native >/dev/null
cmake --build --preset native -j2 --target lines_soak pbxsim
exec build/native/bench/session/lines_soak --seconds "$seconds" --lines "$lines" --traffic "$traffic" --sample 10
