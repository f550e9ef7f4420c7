#include "output/StatusDocuments.h"

#include <cmath>
#include <cstdio>

#include "common/FrameClasses.h"

namespace {

#define LISTENER_NAME(e, name) name,
constexpr const char* kListenerNames[kListeners] = {STATUS_LISTENER_LIST(LISTENER_NAME)};
#undef LISTENER_NAME
// Metric label values of the fault kinds, indexed by FrameFault.
#define FAULT_LABEL(e, name, label) label,
constexpr const char* kFaultLabels[kFrameFaultKinds] = {FRAME_FAULT_LIST(FAULT_LABEL)};
#undef FAULT_LABEL

std::string Hex4(std::uint16_t v) {
  char b[8];
  std::snprintf(b, sizeof b, "%04X", unsigned(v));
  return b;
}

std::string Number(std::uint64_t v) {
  return std::to_string(v);
}

std::string Seconds(double v) {
  char b[48];
  std::snprintf(b, sizeof b, "%.3f", v);
  return b;
}

// A JSON string: quotes, backslashes and control characters escaped; bytes
// above 0x7F as the code points of the same number, so that any path the
// system hands out gives valid JSON.
std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c < 0x20 || c >= 0x7F) {
      char b[8];
      std::snprintf(b, sizeof b, "\\u%04x", unsigned(c));
      out += b;
    } else {
      out += char(c);
    }
  }
  return out + "\"";
}

std::string JsonTime(double seconds) {
  return seconds > 0 ? JsonString(IsoTime(seconds)) : "null";
}

// A label value of the text format: backslash, quote and line feed escaped.
std::string LabelValue(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '\\' || c == '"') out += '\\';
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    out += c;
  }
  return out;
}

class Metrics {
 public:
  void Family(const char* name, const char* type, const char* help) {
    text_ += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
  }
  void Sample(const char* name, const std::string& labels, const std::string& value) {
    text_ += name;
    if (!labels.empty()) text_ += "{" + labels + "}";
    text_ += " " + value + "\n";
  }
  std::string& Text() { return text_; }

 private:
  std::string text_;
};

std::string ListenerLabel(int i) {
  return std::string("listener=\"") + kListenerNames[i] + "\"";
}

}  // namespace

const char* FrameClassName(std::uint16_t versionNumber, bool series01xx) {
  if (series01xx) return "Series01xx";
  if (frame::IsMultiTouch(versionNumber)) return "multi-touch";
  if (frame::IsSplitChannel(versionNumber)) return "split-channel";
  return "single-channel";
}

std::string IsoTime(double seconds) {
  const double whole = std::floor(seconds);
  long long ms = std::llround((seconds - whole) * 1000);
  long long t = (long long)whole;
  if (ms == 1000) ++t, ms = 0;
  long long days = t / 86400, rest = t % 86400;
  if (rest < 0) rest += 86400, --days;
  // Days since 1970-01-01 to a civil date (the proleptic Gregorian calendar).
  const long long z = days + 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const long long doe = z - era * 146097;
  const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long long mp = (5 * doy + 2) / 153;
  const long long d = doy - (153 * mp + 2) / 5 + 1;
  const long long m = mp < 10 ? mp + 3 : mp - 9;
  const long long y = yoe + era * 400 + (m <= 2);
  char b[96];
  std::snprintf(b, sizeof b, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld.%03lldZ", y, m, d,
                rest / 3600, rest / 60 % 60, rest % 60, ms);
  return b;
}

std::string StatusJson(const StatusSnapshot& s) {
  const FrameStatusView& f = s.frame;
  std::string j = "{\"version\":" + JsonString(s.version) +
                  ",\"started\":" + JsonTime(s.startedAt) +
                  ",\"uptime_seconds\":" + Seconds(s.uptime);
  j += ",\"frame\":{\"present\":";
  j += f.present ? "true" : "false";
  if (f.seen) {
    j += std::string(",\"class\":\"") + FrameClassName(f.versionNumber, f.series01xx) +
         "\",\"vendor_id\":\"" + Hex4(f.vendorId) + "\",\"product_id\":\"" + Hex4(f.productId) +
         "\",\"version\":\"" + Hex4(f.versionNumber) + "\",\"path\":" + JsonString(f.path);
  } else {
    j += ",\"class\":null,\"vendor_id\":null,\"product_id\":null,\"version\":null,\"path\":null";
  }
  j += ",\"since\":" + JsonTime(f.since) + "}";
  j += ",\"reports_received\":" + Number(f.reports) +
       ",\"touches_published\":" + Number(s.touches) + ",\"touches_down\":" + Number(s.touchesDown);
  j += ",\"listeners\":{";
  for (int i = 0; i < kListeners; ++i) {
    const ListenerStatusView& l = s.listener[i];
    j += std::string(i ? "," : "") + "\"" + kListenerNames[i] +
         "\":{\"enabled\":" + (l.enabled ? "true" : "false");
    if (i != kUdpListener)
      j += ",\"port\":" + (l.port ? Number(l.port) : std::string("null")) +
           ",\"clients\":" + Number(l.clients) + ",\"clients_dropped\":" + Number(l.dropped);
    j += ",\"packets_sent\":" + Number(l.packets) + "}";
  }
  j += "},\"last_fault\":";
  if (f.lastFault == FrameFault::kNone) {
    j += "null";
  } else {
    j += std::string("{\"kind\":\"") + FrameFaultName(f.lastFault) +
         "\",\"detail\":" + JsonString(f.lastFaultDetail) + ",\"at\":" + JsonTime(f.lastFaultAt) +
         "}";
  }
  j += ",\"faults\":{";
  for (int k = 1; k < kFrameFaultKinds; ++k)
    j += std::string(k > 1 ? "," : "") + "\"" + kFaultLabels[k] + "\":" + Number(f.faults[k]);
  return j + "}}\n";
}

std::string StatusMetrics(const StatusSnapshot& s) {
  const FrameStatusView& f = s.frame;
  Metrics m;
  m.Family("vantrel_build_info", "gauge", "The service's version, as a label.");
  m.Sample("vantrel_build_info", "version=\"" + LabelValue(s.version) + "\"", "1");
  m.Family("vantrel_start_time_seconds", "gauge", "When the service started, since the epoch.");
  m.Sample("vantrel_start_time_seconds", "", Seconds(s.startedAt));
  m.Family("vantrel_uptime_seconds", "gauge", "How long the service has been running.");
  m.Sample("vantrel_uptime_seconds", "", Seconds(s.uptime));

  m.Family("vantrel_frame_present", "gauge", "1 while a touch frame is open, else 0.");
  m.Sample("vantrel_frame_present", "", f.present ? "1" : "0");
  if (f.seen) {
    m.Family("vantrel_frame_info", "gauge",
             "The frame open now, or the last one: class, ids, version number, interface path.");
    m.Sample("vantrel_frame_info",
             std::string("class=\"") + FrameClassName(f.versionNumber, f.series01xx) +
                 "\",vendor_id=\"" + Hex4(f.vendorId) + "\",product_id=\"" + Hex4(f.productId) +
                 "\",version=\"" + Hex4(f.versionNumber) + "\",path=\"" + LabelValue(f.path) + "\"",
             "1");
    m.Family("vantrel_frame_change_timestamp_seconds", "gauge",
             "When the frame was last opened or lost, since the epoch.");
    m.Sample("vantrel_frame_change_timestamp_seconds", "", Seconds(f.since));
  }
  m.Family("vantrel_reports_received_total", "counter", "Reports received from the frame.");
  m.Sample("vantrel_reports_received_total", "", Number(f.reports));
  m.Family("vantrel_touches_published_total", "counter",
           "Touches published: each finger put down, one TUIO cursor session.");
  m.Sample("vantrel_touches_published_total", "", Number(s.touches));
  m.Family("vantrel_touches_down", "gauge", "Touches down now.");
  m.Sample("vantrel_touches_down", "", Number(s.touchesDown));
  m.Family("vantrel_frame_faults_total", "counter",
           "Faults the frame had while open: read errors, writes refused, sleeps.");
  for (int k = 1; k < kFrameFaultKinds; ++k)
    m.Sample("vantrel_frame_faults_total", std::string("fault=\"") + kFaultLabels[k] + "\"",
             Number(f.faults[k]));
  m.Family("vantrel_frame_last_fault_timestamp_seconds", "gauge",
           "When the frame last had a fault, since the epoch; 0 if never.");
  m.Sample("vantrel_frame_last_fault_timestamp_seconds", "", Seconds(f.lastFaultAt));

  m.Family("vantrel_listener_clients", "gauge", "Clients connected now.");
  for (int i = kXmlListener; i < kListeners; ++i)
    if (s.listener[i].enabled)
      m.Sample("vantrel_listener_clients", ListenerLabel(i), Number(s.listener[i].clients));
  m.Family("vantrel_listener_clients_dropped_total", "counter",
           "Clients dropped because they fell behind.");
  for (int i = kXmlListener; i < kListeners; ++i)
    if (s.listener[i].enabled)
      m.Sample("vantrel_listener_clients_dropped_total", ListenerLabel(i),
               Number(s.listener[i].dropped));
  m.Family("vantrel_listener_packets_sent_total", "counter",
           "Packets sent: UDP datagrams, XML documents, TUIO packets queued per stream client.");
  for (int i = 0; i < kListeners; ++i)
    if (s.listener[i].enabled)
      m.Sample("vantrel_listener_packets_sent_total", ListenerLabel(i),
               Number(s.listener[i].packets));
  return std::move(m.Text());
}
