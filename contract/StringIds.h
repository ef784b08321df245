// The string table's identifiers: the texts the observer and the auto
// power-down code load by id. The table itself is part of the DLL's resource
// script.
#pragma once

#define IDS_PROJNAME 100
#define IDS_OBSERVER_NAME 101
#define IDS_JOBS_IN_PROGRESS 102
#define IDS_JOBS_PENDING 103
#define IDS_CANCELLING_REQUEST 104
#define IDS_AUTO_POWER_DOWN_REQUEST 105
#define IDS_INITIATED_AUTO_POWER_DOWN 106
// The maintenance-window texts begin a string block of their own.
#define IDS_WORK_WAITS_FOR_WINDOW 112
