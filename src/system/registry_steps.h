#pragma once

void ClearCompatibilityLayer(void);
void ScheduleRunOnce(int runNow);
