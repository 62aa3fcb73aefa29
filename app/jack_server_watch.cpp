#include "app/jack_server_watch.h"

#include <QMetaObject>
#include <utility>

namespace quillmark {

JackServerWatch::JackServerWatch(int retryMilliseconds, std::string clientName, QObject* parent)
    : QObject(parent), clientName_(std::move(clientName)), retry_(new QTimer(this)), poll_(new QTimer(this)) {
  retry_->setInterval(retryMilliseconds);
  connect(retry_, &QTimer::timeout, this, &JackServerWatch::retry);
  poll_->setInterval(retryMilliseconds);
  connect(poll_, &QTimer::timeout, this, &JackServerWatch::verify);
  if (JackServerProbe::needsPolling()) poll_->start();
  JackServerProbe::setUnreachable(true);  // this first attempt's failure is reported by the store's log line
  if (!connectClient()) retry_->start();
}

JackServerWatch::~JackServerWatch() = default;

bool JackServerWatch::connectClient() {
  // libjack's thread when the server goes away: hop to the main thread. The probe closes its client (which
  // waits for this callback) before the watch is destroyed, so the watch is alive here.
  return probe_.open(clientName_, [this] {
    QMetaObject::invokeMethod(
        this, [this] { lose(); }, Qt::QueuedConnection);
  });
}

void JackServerWatch::retry() {
  if (probe_.isOpen() || !connectClient()) return;
  retry_->stop();
  emit serverFound();
}

bool JackServerWatch::verify() {
  if (!probe_.isOpen()) return false;
  if (probe_.answers()) return true;
  lose();
  return false;
}

void JackServerWatch::lose() {
  if (!probe_.isOpen()) return;
  probe_.closeGone();
  retry_->start();
  emit serverLost();
}

}  // namespace quillmark
