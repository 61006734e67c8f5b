#pragma once
// The texts of the webhook and MQTT publish actions: first the name template's %-placeholders
// (%n camera, %o document, %d %m %y %h %i %s time, %r the record's file, ...; inserted as they
// are), then these, inserted JSON-safe (escaped for use inside a JSON string, without quotes):
//   {{event}} the event's name   {{kind}} its number   {{document}}   {{camera}}
//   {{file}} the recording        {{time}} ISO 8601 local time with offset
// and {{json}}, the whole event as a JSON object. Anything else stays as it is.
//
// Called by the actions' Execute on the thread that runs the chain.

#include <string>

class CEventActionContext;
class CSEventRecord;

namespace EventTemplate {

std::string Expand(const CEventActionContext& context, const CSEventRecord& record, const std::string& text);
// text escaped for the inside of a JSON string.
std::string JsonEscaped(const std::string& text);

} // namespace EventTemplate
