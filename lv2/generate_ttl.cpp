// Writes the bundle's descriptions: manifest.ttl and one <effect>.ttl per
// effect of the registry, all read from the effects' own tables.
//   quor_lv2_ttl <bundle directory> <library file name>
#include "lv2/describe.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

namespace quor::lv2 {
namespace {

const char* const kPrefixes = "@prefix doap: <http://usefulinc.com/ns/doap#> .\n"
                              "@prefix foaf: <http://xmlns.com/foaf/0.1/> .\n"
                              "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
                              "@prefix rdf: <http://www.w3.org/1999/02/22-rdf-syntax-ns#> .\n"
                              "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n"
                              "@prefix work: <http://lv2plug.in/ns/ext/worker#> .\n\n";

// The shortest decimal that reads back as the same float, in plain notation
// where one exists.
std::string number(float value) {
    char text[32];
    for (const char* format : {"%.*f", "%.*g"}) {
        for (int digits = 0; digits <= 9; ++digits) {
            std::snprintf(text, sizeof text, format, digits, static_cast<double>(value));
            if (std::strtof(text, nullptr) == value) {
                std::string s = text;
                if (s.find_first_of(".e") == std::string::npos) s += ".0";
                return s;
            }
        }
    }
    return text;
}

std::string quoted(const std::string& text) {
    std::string s = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\' || c == '\n') s += '\\';
        s += c == '\n' ? 'n' : c;
    }
    return s + "\"";
}

void writePort(std::ostream& out, const PortDescription& port, std::size_t index) {
    using Kind = PortDescription::Kind;
    const bool input = port.kind == Kind::audioInput || port.kind == Kind::controlInput;
    const bool audio = port.kind == Kind::audioInput || port.kind == Kind::audioOutput;
    out << "[\n        a " << (input ? "lv2:InputPort" : "lv2:OutputPort") << " , "
        << (audio ? "lv2:AudioPort" : "lv2:ControlPort") << " ;\n"
        << "        lv2:index " << index << " ;\n"
        << "        lv2:symbol " << quoted(port.symbol) << " ;\n"
        << "        lv2:name " << quoted(port.name);
    if (port.sideChain) out << " ;\n        lv2:portProperty lv2:isSideChain , lv2:connectionOptional";
    if (port.kind == Kind::latencyOutput)
        out << " ;\n        lv2:designation lv2:latency ;\n"
            << "        lv2:portProperty lv2:reportsLatency , lv2:integer ;\n"
            << "        lv2:minimum 0";
    if (port.kind == Kind::controlInput) {
        out << " ;\n        lv2:default " << number(port.defaultValue) << " ;\n"
            << "        lv2:minimum " << number(port.minimum) << " ;\n"
            << "        lv2:maximum " << number(port.maximum);
        if (port.integer)
            out << " ;\n        lv2:portProperty lv2:integer , "
                << (port.toggled ? "lv2:toggled" : "lv2:enumeration");
        for (std::size_t i = 0; i < port.scalePoints.size(); ++i)
            out << (i == 0 ? " ;\n        lv2:scalePoint " : " , ") << "[ rdfs:label "
                << quoted(port.scalePoints[i].label) << " ; rdf:value " << number(port.scalePoints[i].value)
                << " ]";
    }
    out << "\n    ]";
}

std::string pluginTurtle(const PluginDescription& plugin) {
    std::ostringstream out;
    out << kPrefixes << "<" << plugin.uri << ">\n"
        << "    a lv2:Plugin , doap:Project ;\n"
        << "    doap:name " << quoted(plugin.name) << " ;\n"
        << "    doap:maintainer [ foaf:name \"mornvale\" ] ;\n"
        << "    lv2:optionalFeature work:schedule ;\n"
        << "    lv2:extensionData work:interface ;\n"
        << "    lv2:port ";
    for (std::size_t i = 0; i < plugin.ports.size(); ++i) {
        if (i > 0) out << " , ";
        writePort(out, plugin.ports[i], i);
    }
    out << " .\n";
    return out.str();
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
    file.close();
    if (!file) throw std::runtime_error("cannot write " + path);
}

} // namespace
} // namespace quor::lv2

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: quor_lv2_ttl <bundle directory> <library file name>\n";
        return 2;
    }
    using namespace quor::lv2;
    const std::string bundle = argv[1];
    try {
        std::ostringstream manifest;
        manifest << "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
                 << "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n";
        for (const quor::EffectFactory* f = quor::EffectRegistry::suite().first(); f; f = f->next) {
            const PluginDescription plugin = describe(*f);
            writeFile(bundle + "/" + plugin.slug + ".ttl", pluginTurtle(plugin));
            manifest << "\n<" << plugin.uri << ">\n    a lv2:Plugin ;\n    lv2:binary <" << argv[2]
                     << "> ;\n    rdfs:seeAlso <" << plugin.slug << ".ttl> .\n";
        }
        // Last: the build treats the manifest as the mark of a complete bundle.
        writeFile(bundle + "/manifest.ttl", manifest.str());
    } catch (const std::exception& e) {
        std::cerr << "quor_lv2_ttl: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
