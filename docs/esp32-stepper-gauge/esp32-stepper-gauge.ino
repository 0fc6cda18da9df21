// A fuel flow gauge for kovex-server's MQTT topics: an ESP32 moves the needle of an X27.168 stepper
// gauge motor to engine 1's fuel flow, through a VID6606 (or AX1201728SG) driver's step and direction
// inputs. Libraries: the ESP32 Arduino core (WiFi) and PubSubClient.
//
// Wiring: STEP_PIN to the driver's f(scx) of one motor, DIR_PIN to its CW/CCW, RESET_PIN to its RESET
// (low holds the driver in reset); the driver and the ESP32 share ground, the driver runs on 5 V.
#include <PubSubClient.h>
#include <WiFi.h>

// ---- Set these for your network, broker and dial. ----
const char* kWifiName = "your-wifi";
const char* kWifiPassword = "your-password";
const char* kBroker = "192.168.1.10";  // the machine running mosquitto
const uint16_t kBrokerPort = 1883;
const char* kBrokerUser = nullptr;  // or "pilot", with kBrokerPassword
const char* kBrokerPassword = nullptr;
const char* kStation = "sim1";  // kovex-server --mqtt-station NAME

const float kDialMinKgph = 0.0f;    // the value at the needle's rest
const float kDialMaxKgph = 300.0f;  // the value at full sweep
const float kSweepDegrees = 315.0f;  // the X27.168's whole travel

const int STEP_PIN = 25;
const int DIR_PIN = 26;
const int RESET_PIN = 27;
const bool kClockwiseIsHigh = true;  // flip when the needle turns the wrong way

// The driver moves the motor by 1/12 of a degree per step pulse.
const float kStepsPerDegree = 12.0f;
const long kFullSweepSteps = long(kSweepDegrees * kStepsPerDegree);
// The needle's pace: quick enough to follow a throttle, slow enough to look like a real gauge.
const float kMaxStepsPerSecond = 3000.0f;
const float kStepsPerSecondSquared = 6000.0f;
const float kHomingStepsPerSecond = 1000.0f;
// kovex-server sends every topic at least once a second; longer silence means no data.
const unsigned long kDataTimeoutMs = 5000;

// ---- The needle: a step position, a target and a speed that ramps up and down. ----
long needleSteps = 0;   // steps from the stop
long needleTarget = 0;
float needleSpeed = 0.0f;  // steps per second, signed: positive is clockwise
unsigned long lastStepMicros = 0;

void StepOnce(bool clockwise) {
  digitalWrite(DIR_PIN, clockwise == kClockwiseIsHigh ? HIGH : LOW);
  delayMicroseconds(1);
  digitalWrite(STEP_PIN, HIGH);
  delayMicroseconds(2);
  digitalWrite(STEP_PIN, LOW);
  needleSteps += clockwise ? 1 : -1;
}

// Drives the needle against its stop counterclockwise, a little more than a whole sweep, so that
// wherever it was at power-up it ends at the stop: that is step 0.
void Home() {
  const unsigned long pause = (unsigned long)(1000000.0f / kHomingStepsPerSecond);
  for (long i = 0; i < kFullSweepSteps + kFullSweepSteps / 10; ++i) {
    StepOnce(false);
    delayMicroseconds(pause);
  }
  needleSteps = needleTarget = 0;
  needleSpeed = 0.0f;
}

// At most one step per call, when it is due: call as often as possible from loop().
void MoveNeedle() {
  const unsigned long now = micros();
  const float interval = needleSpeed == 0.0f ? 1000000.0f / 100.0f : 1000000.0f / fabsf(needleSpeed);
  if (needleSpeed != 0.0f && now - lastStepMicros < (unsigned long)interval) return;
  const float dt = needleSpeed == 0.0f ? 0.01f : interval / 1000000.0f;
  const long away = needleTarget - needleSteps;
  // The distance it needs to stop from this speed; brake when the target is that close, or behind.
  const float stopping = needleSpeed * needleSpeed / (2.0f * kStepsPerSecondSquared);
  const bool towards = (away > 0 && needleSpeed >= 0.0f) || (away < 0 && needleSpeed <= 0.0f);
  if (away == 0 && fabsf(needleSpeed) < 200.0f) {
    needleSpeed = 0.0f;  // slow enough to stand still at once
    return;
  }
  if (towards && fabsf((float)away) > stopping) {
    const float direction = away > 0 ? 1.0f : -1.0f;
    needleSpeed += direction * kStepsPerSecondSquared * dt;
    needleSpeed = constrain(needleSpeed, -kMaxStepsPerSecond, kMaxStepsPerSecond);
  } else {
    const float slower = fabsf(needleSpeed) - kStepsPerSecondSquared * dt;
    needleSpeed = slower <= 0.0f ? 0.0f : (needleSpeed > 0.0f ? slower : -slower);
  }
  if (needleSpeed == 0.0f && away != 0) needleSpeed = away > 0 ? 100.0f : -100.0f;  // starting off
  if (needleSpeed == 0.0f) return;
  const bool clockwise = needleSpeed > 0.0f;
  if ((clockwise && needleSteps >= kFullSweepSteps) || (!clockwise && needleSteps <= 0)) {
    needleSpeed = 0.0f;  // never against a stop in normal running
    return;
  }
  StepOnce(clockwise);
  lastStepMicros = now;
}

void PointAt(float kgph) {
  const float fraction = constrain((kgph - kDialMinKgph) / (kDialMaxKgph - kDialMinKgph), 0.0f, 1.0f);
  needleTarget = long(fraction * kFullSweepSteps + 0.5f);
}

// ---- MQTT ----
WiFiClient network;
PubSubClient mqtt(network);
char flowTopic[96];
char statusTopic[96];
bool online = false;            // the server's status topic says online
unsigned long lastValueMs = 0;  // when the last fuel flow came
bool haveValue = false;

// No data (server offline, broker or Wi-Fi gone, or silence): the needle parks at its rest.
void Park() {
  haveValue = false;
  needleTarget = 0;
}

void OnMessage(char* topic, byte* payload, unsigned int length) {
  char text[32];
  const unsigned int n = length < sizeof text - 1 ? length : sizeof text - 1;
  memcpy(text, payload, n);
  text[n] = '\0';
  if (strcmp(topic, statusTopic) == 0) {
    online = strcmp(text, "online") == 0;
    if (!online) Park();
    return;
  }
  if (strcmp(topic, flowTopic) == 0 && online) {
    char* end = nullptr;
    const float kgph = strtof(text, &end);  // the payload has a full stop and one decimal, e.g. 212.4
    if (end == text) return;
    PointAt(kgph);
    haveValue = true;
    lastValueMs = millis();
  }
}

void KeepConnected() {
  if (WiFi.status() != WL_CONNECTED) {
    Park();
    online = false;
    return;  // the core reconnects to the access point by itself
  }
  if (mqtt.connected()) return;
  Park();
  online = false;
  static unsigned long lastAttempt = 0;
  if (lastAttempt != 0 && millis() - lastAttempt < 3000) return;
  lastAttempt = millis();
  char id[32];
  snprintf(id, sizeof id, "kovex-gauge-%08lx", (unsigned long)(ESP.getEfuseMac() & 0xffffffff));
  if (mqtt.connect(id, kBrokerUser, kBrokerPassword)) {
    // The status is retained, so it comes at once: online, or offline from the server's last will.
    mqtt.subscribe(statusTopic);
    mqtt.subscribe(flowTopic);
  }
}

void setup() {
  pinMode(STEP_PIN, OUTPUT);
  pinMode(DIR_PIN, OUTPUT);
  pinMode(RESET_PIN, OUTPUT);
  digitalWrite(RESET_PIN, LOW);
  delay(2);
  digitalWrite(RESET_PIN, HIGH);
  Home();

  snprintf(flowTopic, sizeof flowTopic, "kovexfuel/%s/engine1/fuel_flow_kgph", kStation);
  snprintf(statusTopic, sizeof statusTopic, "kovexfuel/%s/status", kStation);
  WiFi.mode(WIFI_STA);
  WiFi.begin(kWifiName, kWifiPassword);
  mqtt.setServer(kBroker, kBrokerPort);
  mqtt.setCallback(OnMessage);
}

void loop() {
  KeepConnected();
  mqtt.loop();
  if (haveValue && millis() - lastValueMs > kDataTimeoutMs) Park();
  MoveNeedle();
}
