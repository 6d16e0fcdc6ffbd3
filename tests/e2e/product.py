"""The product's facts (program names, registry key and values, layouts, the helper's exit codes)
as the build wrote them from packaging/product.cmake into generated/product.json: the file that
RESKEEPER_PRODUCT_FACTS names (CMake sets it for the tests), else the dev preset's."""

import json
import os

HERE = os.path.dirname(os.path.abspath(__file__))
PATH = os.environ.get("RESKEEPER_PRODUCT_FACTS") or os.path.join(
    HERE, "..", "..", "build", "dev", "generated", "product.json")

with open(PATH) as f:
    FACTS = json.load(f)
EXITS = FACTS["HELPER_EXITS"]
