"""Counts the public names of the API reference and how many carry a description.

Reads the XML that `doxygen docs/Doxyfile` writes to build/docs/xml: every
class, struct, union, namespace-level or class-level function, variable,
typedef, enumeration and macro that is not private, each once.
"""

import glob
import sys
import xml.etree.ElementTree as ET


def described(node):
    for tag in ("briefdescription", "detaileddescription"):
        part = node.find(tag)
        if part is not None and "".join(part.itertext()).strip():
            return True
    return False


def main(xml_dir):
    names = {}
    for path in glob.glob(xml_dir + "/*.xml"):
        root = ET.parse(path).getroot()
        for compound in root.iter("compounddef"):
            kind = compound.get("kind")
            if kind in ("class", "struct", "union") and compound.get("prot") == "private":
                continue
            if kind in ("class", "struct", "union"):
                names[compound.get("id")] = (compound.findtext("compoundname"), described(compound))
            # A member shows in its scope's compound and in its file's and
            # group's: counted once, by its id.
            if kind not in ("class", "struct", "union", "group", "namespace", "file"):
                continue
            # The members of a private nested class are private too.
            if compound.get("prot") == "private":
                continue
            for member in compound.iter("memberdef"):
                if member.get("prot") == "private" or member.get("kind") == "friend":
                    continue
                # A deleted function is no part of what callers can use, and a
                # destructor needs no words of its own.
                if "=delete" in (member.findtext("argsstring") or "").replace(" ", ""):
                    continue
                if (member.findtext("name") or "").startswith("~"):
                    continue
                scope = compound.findtext("compoundname")
                names[member.get("id")] = (scope + "::" + member.findtext("name"), described(member))
    missing = sorted(name for name, ok in names.values() if not ok)
    print(f"docs: {len(names)} public names, {len(names) - len(missing)} with a description")
    for name in missing:
        print(f"  undescribed: {name}")
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else "build/docs/xml"))
