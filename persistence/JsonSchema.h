#pragma once
// A validator for the part of JSON Schema (draft 2020-12) that the document format's schema uses:
// type (one name or a list), properties, required, additionalProperties (true, false or a schema),
// items, minimum, maximum, minLength, enum, const, pattern (ECMAScript regular expressions, searched),
// $ref to "#/$defs/NAME", allOf, if/then/else, and the annotations $schema, $id, $comment, title,
// description, default, examples, which change nothing. A schema using any other keyword is refused
// when the validator is made, so that a constraint is never silently skipped.
//
// Each problem names the JSON path of the value ("$.cameras[1].MotionGreyLevel: 1200 is out of range:
// must be from 0 to 1000"). "integer" is a JSON number without fraction or exponent.
//
// Made and used on one thread; Validate keeps no state between calls.

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

class CJsonSchema {
public:
    using Json = nlohmann::ordered_json;

    // Throws CGeneralEx for a keyword outside the subset, a $ref that names nothing and a pattern
    // that is no regular expression.
    explicit CJsonSchema(Json schema);

    // Every problem of the document, in document order; empty when it satisfies the schema.
    std::vector<std::string> Validate(const Json& document) const;

    // The path of a member below a path: "$.name", or "$['VideoSize.cx']" for names that are not
    // plain identifiers.
    static std::string MemberPath(const std::string& path, const std::string& name);
    static std::string ItemPath(const std::string& path, size_t index);

private:
    void Check(const Json& schema, const std::string& where) const;
    void Validate(const Json& schema, const Json& value, const std::string& path,
                  std::vector<std::string>& problems) const;
    void ValidateObject(const Json& schema, const Json& value, const std::string& path,
                        std::vector<std::string>& problems) const;
    void ValidateScalar(const Json& schema, const Json& value, const std::string& path,
                        std::vector<std::string>& problems) const;
    const Json& Resolve(const std::string& reference) const;

    Json m_schema;
};
