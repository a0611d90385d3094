#!/usr/bin/env python3
# Holds the engine's includes to its layers: a file includes headers of its
# own folder and of the folders below it only (see db/CMakeLists.txt).
# Usage: check_layers.py [PROJECT_ROOT]; exits 1 and names each offending
# include.
import os, re, sys
os.chdir(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), '..'))
# Which folders each folder's sources may include from.
base = ['db/status.h','db/variant.h','db/text.h','db/convert.h','db/date_time.h','db/column_type.h','db/regional_settings.h','db/unicode_case_table.inc','db/field.h','db/record_set.h','db/object_name.h']
def folder(path):
    d=os.path.dirname(path)
    if d=='db':
        return 'db/values' if path in base else 'db'
    return d
order = ['db/values','db/sql','db/jet/file','db/jet/page','db/jet/table','db/jet/index','db/jet','db/jet/check','db']
allowed = {o: set(order[:i+1]) for i,o in enumerate(order)}
allowed['db/sql'] = {'db/values','db/sql'}
bad=0
for root,_,fs in os.walk('db'):
    for f in fs:
        p=os.path.join(root,f)
        a=folder(p)
        for line in open(p,errors='ignore'):
            m=re.match(r'#include "(db/[^"]+)"',line)
            if not m: continue
            b=folder(m.group(1))
            if b not in allowed.get(a,set()):
                print(f'{p} includes {m.group(1)} ({a} -> {b})'); bad+=1
if bad:
    print(f'{bad} include(s) reach a higher layer')
sys.exit(1 if bad else 0)
