#pragma once

// True when the suite runs in CI, where a test server that cannot start fails its tests instead of
// skipping them.
bool RunningInCi();
