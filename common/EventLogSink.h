// Where event-log entries go. The product writes them to the Windows event
// log; a test installs a sink of its own to see the texts, since Wine's event
// log keeps nothing.
#pragma once

#include <windows.h>

// Receives one entry: its type, its id and its three insertion strings (a
// null one already replaced by an empty text).
using EventLogSink = void (*)(WORD type, DWORD eventId,
                              const char* const insertions[3]);

// Installs `sink` for every later entry; null restores the Windows event log.
// Not synchronised: install it while no other thread writes entries.
void SetEventLogSinkForTesting(EventLogSink sink);

// Hands the entry to the installed sink; false when none is installed.
bool DeliverToEventLogSink(WORD type, DWORD eventId, const char* insertion1,
                           const char* insertion2, const char* insertion3);
