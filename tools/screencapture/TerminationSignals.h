#pragma once

class QObject;
class QSocketNotifier;

// SIGTERM, SIGINT and SIGHUP end the capture without leaving a file. The handler only records
// the signal; the event loop learns of it through a pipe, and the writer checks received()
// before it puts a file in place.
namespace TerminationSignals {

bool install();
bool received();
// Activated on the thread that creates it once a signal has arrived.
QSocketNotifier *createNotifier(QObject *parent);

} // namespace TerminationSignals
