// The small JSON Schema validator: each keyword it claims must be enforced, and a schema using a
// keyword it does not enforce must be refused rather than half applied.

#include "persistence/JsonSchema.h"

#include "foundation/Exceptions.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using Json = CJsonSchema::Json;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::vector<std::string> Check(const char* schema, const char* document) {
    return CJsonSchema(Json::parse(schema)).Validate(Json::parse(document));
}

TEST(JsonSchemaTest, TypesNumbersAndTextsAreEnforcedWithTheirPaths) {
    const char* schema = R"({"type": "object", "properties": {
        "n": {"type": "integer", "minimum": -1, "maximum": 5, "description": "ms"},
        "low": {"type": "integer", "minimum": 0},
        "s": {"type": ["string", "null"], "minLength": 1, "pattern": "^a"},
        "e": {"enum": [1, "two"]}, "c": {"const": true}}})";
    EXPECT_THAT(Check(schema, R"({"n": 5, "low": 0, "s": null, "e": "two", "c": true})"), IsEmpty());
    EXPECT_THAT(Check(schema, R"({"n": 6, "low": -3, "s": "", "e": 2, "c": false})"),
                ElementsAre("$.n: 6 is out of range: must be from -1 to 5 (ms)",
                            "$.low: -3 is out of range: must be at least 0", "$.s: must not be empty",
                            "$.s: \"\" must match ^a", "$.e: must be one of 1, \"two\", not 2",
                            "$.c: must be true, not false"));
    EXPECT_THAT(Check(schema, R"({"n": 1.0, "s": 3})"),
                ElementsAre("$.n: must be an integer, not 1.0", "$.s: must be a string or null, not 3"));
    EXPECT_THAT(Check(schema, R"({"n": 18446744073709551615})"),
                ElementsAre("$.n: 18446744073709551615 is out of range: must be from -1 to 5 (ms)"));
}

TEST(JsonSchemaTest, ObjectsArraysReferencesAndConditionsAreFollowed) {
    const char* schema = R"({
        "$defs": {"item": {"type": "object", "required": ["kind"], "additionalProperties": false,
            "properties": {"kind": {"enum": ["a", "b"]}, "value": {}},
            "allOf": [{"if": {"properties": {"kind": {"const": "a"}}},
                       "then": {"properties": {"value": {"type": "integer"}}},
                       "else": {"properties": {"value": {"type": "string"}}}}]}},
        "type": "object", "additionalProperties": {"type": "array", "items": {"$ref": "#/$defs/item"}}})";
    EXPECT_THAT(Check(schema, R"({"x": [{"kind": "a", "value": 1}, {"kind": "b", "value": "t"}]})"),
                IsEmpty());
    EXPECT_THAT(
        Check(
            schema,
            R"({"x": [{"kind": "a", "value": "1"}, {"kind": "b", "value": 2, "odd": 0}, {"value": 2}], "y.z": 1})"),
        ElementsAre("$.x[0].value: must be an integer, not \"1\"", "$.x[1].value: must be a string, not 2",
                    "$.x[1].odd: unknown member", "$.x[2]: the member \"kind\" is missing",
                    "$['y.z']: must be an array, not 1"));
}

TEST(JsonSchemaTest, AKeywordThatIsNotEnforcedIsRefused) {
    for (const char* schema : {R"({"oneOf": [true]})", R"({"properties": {"a": {"multipleOf": 2}}})",
                               R"({"$ref": "#/$defs/none"})", R"({"items": {"pattern": "("}})", R"([1])"}) {
        EXPECT_THROW(CJsonSchema{Json::parse(schema)}, CGeneralEx) << schema;
    }
}

TEST(JsonSchemaTest, PathsQuoteNamesThatAreNoIdentifiers) {
    EXPECT_EQ(CJsonSchema::MemberPath("$", "CamName"), "$.CamName");
    EXPECT_EQ(CJsonSchema::MemberPath("$.a", "VideoSize.cx"), "$.a['VideoSize.cx']");
    EXPECT_EQ(CJsonSchema::MemberPath("$", "it's"), "$['it\\'s']");
    EXPECT_EQ(CJsonSchema::MemberPath("$", "1st"), "$['1st']");
    EXPECT_EQ(CJsonSchema::ItemPath("$.cameras", 3), "$.cameras[3]");
}

} // namespace
