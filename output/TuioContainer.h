#pragma once
#include <cstdint>

#include "output/SessionTime.h"

namespace TUIO {

// A position at a session time.
class TuioPoint {
 public:
  TuioPoint() = default;
  TuioPoint(SessionTime t, float x, float y) : x_(x), y_(y), time_(t), startTime_(t) {}

  float x() const { return x_; }
  float y() const { return y_; }
  SessionTime time() const { return time_; }
  SessionTime startTime() const { return startTime_; }

 protected:
  float x_ = 0.0f;
  float y_ = 0.0f;
  SessionTime time_;       // of the latest sample
  SessionTime startTime_;  // of creation
};

// One sample of a container's path.
struct TuioSample {
  float x = 0.0f;
  float y = 0.0f;
  SessionTime time;
};

enum MotionState : std::int32_t {
  MOTION_ADDED = 0,
  MOTION_ACCELERATING = 1,
  MOTION_DECELERATING = 2,
  MOTION_STOPPED = 3,
  MOTION_REMOVED = 4,
};

// A tracked point with a session id and its kinematics. Speeds are in
// normalised units per second, computed in single precision.
//
// Only the latest sample of the path is ever read, so only that one is kept:
// a touch held for hours costs the same memory as a tap.
class TuioContainer : public TuioPoint {
 public:
  TuioContainer(std::int32_t sessionId, SessionTime t, float x, float y);
  virtual ~TuioContainer() = default;

  // Takes position, time, speeds, acceleration and state of another container.
  virtual void update(const TuioContainer& other);
  // Position with given speeds and acceleration, at the current time.
  virtual void update(float x, float y, float xSpeed, float ySpeed, float motionAccel);
  // Time, position and given speeds and acceleration.
  virtual void update(SessionTime t, float x, float y, float xSpeed, float ySpeed,
                      float motionAccel);

  // A new sample: speeds from the previous sample, acceleration from the
  // previous motion speed, and the motion state from the acceleration's sign.
  virtual void moveTo(SessionTime t, float x, float y);
  // A sample at the current position: a cursor that was not reported.
  virtual void hold(SessionTime t);
  virtual void retire(SessionTime t);

  virtual std::int32_t sessionId() const { return sessionId_; }
  virtual float xSpeed() const { return xSpeed_; }
  virtual float ySpeed() const { return ySpeed_; }
  virtual TuioPoint position() const { return TuioPoint(time_, x_, y_); }
  virtual TuioSample lastSample() const { return last_; }
  virtual float motionSpeed() const { return motionSpeed_; }
  virtual float motionAccel() const { return motionAccel_; }
  virtual std::int32_t motionState() const { return motionState_; }
  virtual bool isInMotion() const {
    return motionState_ == MOTION_ACCELERATING || motionState_ == MOTION_DECELERATING;
  }

 protected:
  std::int32_t sessionId_;
  float xSpeed_ = 0.0f;
  float ySpeed_ = 0.0f;
  float motionSpeed_ = 0.0f;
  float motionAccel_ = 0.0f;
  TuioSample last_;
  std::int32_t motionState_ = MOTION_ADDED;
};

// The object created for each touch.
class TuioCursor : public TuioContainer {
 public:
  using TuioContainer::TuioContainer;
};

}  // namespace TUIO
