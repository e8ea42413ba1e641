// Our reader against libxml2's DOM parse and pugixml on the same inputs:
// PBX-sized messages (single-line and pretty-printed) and a 1 MiB document.
#include <benchmark/benchmark.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <pugixml.hpp>
#include <string>

#include "xml/xml_node.h"

namespace {

const std::string kEd6 = "http://www.ecma-international.org/standards/ecma-323/csta/ed6";

std::string makeCallResponse() {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><csta:MakeCallResponse xmlns:csta=\"" + kEd6 +
         "\"><csta:callingDevice><csta:callID>4711</csta:callID><csta:deviceID>100@pbx.example.com</"
         "csta:deviceID>"
         "</csta:callingDevice><csta:calledDevice>+49 (30) "
         "1234-567</csta:calledDevice></csta:MakeCallResponse>";
}

std::string sessionResponse() {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<StartApplicationSessionPosResponse xmlns=\"http://www.ecma-international.org/standards/ecma-354/"
         "appl_session\">\n"
         "  <sessionID>3f2a9c41-7be0-4c55-9d1e-0a6b2f31c8d7</sessionID>\n"
         "  <actualProtocolVersion>\n"
         "    <protocolVersion>" +
         kEd6 +
         "</protocolVersion>\n"
         "  </actualProtocolVersion>\n"
         "  <actualSessionDuration>300</actualSessionDuration>\n"
         "  <extensions>\n"
         "    <privateData>\n"
         "      <private>\n"
         "        <vendor name=\"Quorvel\" release=\"7.2&amp;SP1\"/>\n"
         "      </private>\n"
         "    </privateData>\n"
         "  </extensions>\n"
         "</StartApplicationSessionPosResponse>\n";
}

// About 4 KB: an event with several connections, pretty-printed.
std::string largeEvent() {
  std::string doc =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<csta:SnapshotDeviceResponse xmlns:csta=\"" + kEd6 +
      "\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n  <csta:crossRefIDorSnapshotData>\n"
      "    <csta:snapshotData>\n";
  for (int i = 0; i < 8; ++i) {
    std::string n = std::to_string(i);
    doc +=
        "      <csta:snapshotDeviceResponseInfo>\n        <csta:connectionIdentifier>\n"
        "          <csta:callID>" +
        n + "0042</csta:callID>\n          <csta:deviceID typeOfNumber=\"dialingNumber\">10" + n +
        "@pbx.example.com</csta:deviceID>\n        </csta:connectionIdentifier>\n"
        "        <csta:localCallState><csta:compoundCallState><csta:localConnectionState>connected"
        "</csta:localConnectionState></csta:compoundCallState></csta:localCallState>\n"
        "      </csta:snapshotDeviceResponseInfo>\n";
  }
  doc += "    </csta:snapshotData>\n  </csta:crossRefIDorSnapshotData>\n</csta:SnapshotDeviceResponse>\n";
  return doc;
}

std::string oneMiB() {
  std::string doc = "<?xml version=\"1.0\"?>\n<log xmlns:q=\"urn:q\">\n";
  for (int i = 0; doc.size() < 1024 * 1024; ++i) {
    std::string n = std::to_string(i);
    doc += "  <q:entry id=\"" + n + "\" kind='call'>\n    <from>10" + n + "@pbx</from>\n    <to>+4930" + n +
           "</to>\n    <note>A &amp; B &lt;transfer&gt; &#x20AC;5</note>\n    <!-- trace -->\n"
           "    <raw><![CDATA[<x>" +
           n + "</x>]]></raw>\n  </q:entry>\n";
  }
  return doc + "</log>\n";
}

const std::string& input(int which) {
  static const std::string inputs[] = {makeCallResponse(), sessionResponse(), largeEvent(), oneMiB()};
  return inputs[which];
}

void setLabel(benchmark::State& state, int which) {
  static const char* names[] = {"makecall-1line", "session-pretty", "event-4k-pretty", "log-1MiB"};
  state.SetLabel(std::string(names[which]) + " " + std::to_string(input(which).size()) + "B");
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input(which).size()));
}

void BM_Quorvelone(benchmark::State& state) {
  const int which = static_cast<int>(state.range(0));
  const std::string& doc = input(which);
  for (auto _ : state) {
    qv::XmlNode root = qv::parseXml(doc, true);
    benchmark::DoNotOptimize(root);
  }
  setLabel(state, which);
}

void BM_Libxml2Dom(benchmark::State& state) {
  const int which = static_cast<int>(state.range(0));
  const std::string& doc = input(which);
  for (auto _ : state) {
    xmlDocPtr tree = xmlReadMemory(doc.data(), static_cast<int>(doc.size()), nullptr, nullptr,
                                   XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    benchmark::DoNotOptimize(tree);
    xmlFreeDoc(tree);
  }
  setLabel(state, which);
}

void BM_Pugixml(benchmark::State& state) {
  const int which = static_cast<int>(state.range(0));
  const std::string& doc = input(which);
  for (auto _ : state) {
    pugi::xml_document tree;
    pugi::xml_parse_result result = tree.load_buffer(doc.data(), doc.size());
    benchmark::DoNotOptimize(result);
  }
  setLabel(state, which);
}

// The receive path: parse, then the lookups a response handler makes.
void BM_QuorveloneReceivePath(benchmark::State& state) {
  const std::string& doc = input(0);
  for (auto _ : state) {
    qv::XmlNode root = qv::parseXml(doc, true);
    std::string callId = qv::findText(root, "callingDevice/callID");
    std::string deviceId = qv::findText(root, "callingDevice/deviceID");
    benchmark::DoNotOptimize(callId);
    benchmark::DoNotOptimize(deviceId);
  }
  setLabel(state, 0);
}

BENCHMARK(BM_Quorvelone)->DenseRange(0, 3);
BENCHMARK(BM_Libxml2Dom)->DenseRange(0, 3);
BENCHMARK(BM_Pugixml)->DenseRange(0, 3);
BENCHMARK(BM_QuorveloneReceivePath);

}  // namespace

BENCHMARK_MAIN();
