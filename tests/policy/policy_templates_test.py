#!/usr/bin/env python3
"""The Group Policy templates in policy/: well-formed, every reference resolved in both
languages, and every key, value name and allowed value one that src/settings/policy.h reads.

    policy_templates_test.py REPOSITORY
"""
import os
import re
import sys
import xml.etree.ElementTree as ET

root = sys.argv[1]
NS = "{http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions}"
LANGUAGES = ("ko-KR", "en-US")
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)


def read(*parts):
    with open(os.path.join(root, *parts), encoding="utf-8") as f:
        return f.read()


def program_values():
    """Value name -> (kind, words), and the key, as the program reads them."""
    header = read("src", "settings", "policy.h")
    key = re.search(r'kPolicyKey = "([^"]+)"', header).group(1).replace("\\\\", "\\")
    constants = {}
    for constant, name, kind, words in re.findall(
            r'PolicyValue (k\w+)\{"(\w+)", PolicyKind::(\w+), \{([^}]*)\}\};', header):
        constants[constant] = (name, kind, re.findall(r'"([^"]*)"', words))
    listed = re.findall(r"&(k\w+)", re.search(r"kPolicyValues = \{([^}]*)\}", header).group(1))
    check(sorted(listed) == sorted(constants), f"kPolicyValues lists {listed}, the header defines {sorted(constants)}")
    check(len(constants) >= 6, f"only {len(constants)} policy values found in policy.h")
    return key, {name: (kind, words) for name, kind, words in constants.values()}


def parse(*parts):
    try:
        return ET.parse(os.path.join(root, *parts)).getroot()
    except ET.ParseError as e:
        failures.append(f"{os.path.join(*parts)}: {e}")
        return None


def references(admx, kind):
    found = set()
    for element in admx.iter():
        for value in element.attrib.values():
            found.update(re.findall(r"\$\(" + kind + r"\.(\w+)\)", value))
    return found


def check_language(admx, language):
    adml = parse("policy", language, "Veltrane_Desktop.adml")
    if adml is None:
        return None
    check(adml.tag == NS + "policyDefinitionResources", f"{language}: root is {adml.tag}")
    strings = {s.get("id"): (s.text or "").strip() for s in adml.iter(NS + "string")}
    presentations = {p.get("id"): p for p in adml.iter(NS + "presentation")}
    for name in references(admx, "string"):
        check(strings.get(name), f"{language}: string {name} missing or empty")
    for name in references(admx, "presentation"):
        check(name in presentations, f"{language}: presentation {name} missing")
    for policy in admx.iter(NS + "policy"):
        ref = re.fullmatch(r"\$\(presentation\.(\w+)\)", policy.get("presentation", ""))
        ids = {e.get("id") for e in policy.findall(NS + "elements/*")}
        shown = {c.get("refId") for c in presentations[ref.group(1)]} if ref and ref.group(1) in presentations else set()
        check(ids == shown, f"{language}: {policy.get('name')} has elements {ids}, its presentation shows {shown}")
    return set(strings), set(presentations)


def check_policy(policy, key, values, written):
    name = policy.get("name")
    check(policy.get("class") == "Both", f"{name}: class {policy.get('class')}")
    check(policy.get("key", "").startswith("Software\\Policies\\"), f"{name}: key {policy.get('key')} outside Software\\Policies")
    check(policy.get("key") == key, f"{name}: key {policy.get('key')}, the program reads {key}")
    elements = policy.findall(NS + "elements/*")
    names = [policy.get("valueName")] + [e.get("valueName") for e in elements]
    for value_name in filter(None, names):
        check(value_name in values, f"{name}: value {value_name} is not one the program reads")
        written.append(value_name)
        kind, words = values.get(value_name, (None, []))
        if kind == "Switch":
            check(not elements, f"{name}: a switch writes no element values")
            for state, data in (("enabledValue", "1"), ("disabledValue", "0")):
                decimal = policy.find(f"{NS}{state}/{NS}decimal")
                check(decimal is not None and decimal.get("value") == data, f"{name}: {state} is not decimal {data}")
        elif kind == "Word":
            enum = [e for e in elements if e.get("valueName") == value_name]
            offered = [s.text for e in enum for s in e.iter(NS + "string")]
            check(enum and all(e.tag == NS + "enum" and not list(e.iter(NS + "decimal")) for e in enum),
                  f"{name}: a word is written as a REG_SZ enum item")
            check(sorted(offered) == sorted(words), f"{name}: offers {offered}, the program reads {words}")


def main():
    key, values = program_values()
    admx = parse("policy", "Veltrane_Desktop.admx")
    if admx is None:
        return
    check(admx.tag == NS + "policyDefinitions", f"admx root is {admx.tag}")
    categories = {c.get("name") for c in admx.iter(NS + "category")}
    supported = {d.get("name") for d in admx.iter(NS + "definition")}
    written = []
    for policy in admx.iter(NS + "policy"):
        check_policy(policy, key, values, written)
        check(policy.find(NS + "parentCategory").get("ref") in categories, f"{policy.get('name')}: unknown category")
        check(policy.find(NS + "supportedOn").get("ref") in supported, f"{policy.get('name')}: unknown supportedOn")
    check(sorted(written) == sorted(values), f"policies write {sorted(written)}, one for each of {sorted(values)}")
    tables = [check_language(admx, language) for language in LANGUAGES]
    check(tables[0] == tables[1] or None in tables, "the languages define different strings or presentations")
    section = re.search(r"^## Group Policy.*?(?=^## )", read("README.md"), re.S | re.M)
    for value_name in [key] + list(values):
        check(section and f"`{value_name}`" in section.group(0), f"README's Group Policy section does not name {value_name}")


main()
for failure in failures:
    print("FAIL:", failure)
sys.exit(1 if failures else 0)
