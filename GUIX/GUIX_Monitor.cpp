#include "GUIX_Monitor.h"

void GUIX_Monitor::lock() const { m_mutex.lock(); }
void GUIX_Monitor::unlock() const { m_mutex.unlock(); }
