// Whether the ConfigMgr client is installed on this machine.
#pragma once

// Asks WMI, through a connection of its own, for the client object
// "CCM_Client=@" in root\ccm, waiting for it no longer than the per-call
// limit. Anything that fails on the way (no namespace, no WMI, no memory, a
// provider that does not answer) means no client. COM must be initialised on
// the calling thread.
bool IsConfigMgrClientPresent() noexcept;
