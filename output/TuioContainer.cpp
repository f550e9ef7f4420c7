#include "output/TuioContainer.h"

#include <cmath>

namespace TUIO {

TuioContainer::TuioContainer(std::int32_t sessionId, SessionTime t, float x, float y)
    : TuioPoint(t, x, y), sessionId_(sessionId), last_{x, y, t} {}

void TuioContainer::update(const TuioContainer& other) {
  x_ = other.x_;
  y_ = other.y_;
  time_ = other.time_;
  xSpeed_ = other.xSpeed_;
  ySpeed_ = other.ySpeed_;
  motionSpeed_ = other.motionSpeed_;
  motionAccel_ = other.motionAccel_;
  motionState_ = other.motionState_;
  last_ = TuioSample{x_, y_, time_};
}

void TuioContainer::update(float x, float y, float xSpeed, float ySpeed, float motionAccel) {
  update(time_, x, y, xSpeed, ySpeed, motionAccel);
}

void TuioContainer::update(SessionTime t, float x, float y, float xSpeed, float ySpeed,
                           float motionAccel) {
  x_ = x;
  y_ = y;
  time_ = t;
  xSpeed_ = xSpeed;
  ySpeed_ = ySpeed;
  motionSpeed_ = std::sqrt(xSpeed * xSpeed + ySpeed * ySpeed);
  motionAccel_ = motionAccel;
  motionState_ = motionAccel > 0   ? MOTION_ACCELERATING
                 : motionAccel < 0 ? MOTION_DECELERATING
                                   : MOTION_STOPPED;
  last_ = TuioSample{x, y, t};
}

void TuioContainer::moveTo(SessionTime t, float x, float y) {
  const TuioSample last = last_;
  const float previousSpeed = motionSpeed_;
  x_ = x;
  y_ = y;
  time_ = t;

  const float dt = static_cast<float>((t - last.time).Milliseconds()) / 1000.0f;
  const float dx = x - last.x;
  const float dy = y - last.y;
  xSpeed_ = dx / dt;
  ySpeed_ = dy / dt;
  motionSpeed_ = std::sqrt(dx * dx + dy * dy) / dt;
  motionAccel_ = (motionSpeed_ - previousSpeed) / dt;
  last_ = TuioSample{x, y, t};

  // NaN compares false both ways and so counts as stopped.
  if (motionAccel_ > 0)
    motionState_ = MOTION_ACCELERATING;
  else if (motionAccel_ < 0)
    motionState_ = MOTION_DECELERATING;
  else
    motionState_ = MOTION_STOPPED;
}

void TuioContainer::hold(SessionTime t) {
  moveTo(t, x_, y_);
}

void TuioContainer::retire(SessionTime t) {
  time_ = t;
  motionState_ = MOTION_REMOVED;
}

}  // namespace TUIO
