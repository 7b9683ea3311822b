/* The templates through which documents are shown and joined. "<#NAME#>" is
   replaced by the column NAME of the document's row; in a CONCAT frame "<#BODY#>"
   receives the joined documents. */

INSERT INTO TEMPLATE (GUIDE_TYPE, KIND, TEXT) VALUES ('DEFAULT', 'DEFAULT',
'<!DOCTYPE html>
<html>
<head>
<meta http-equiv="Content-Type" content="text/html; charset=<#ENCODING#>">
<title><#TITLE#></title>
<style>
body { font-family: sans-serif; margin: 1.5em 2em; line-height: 1.45; color: #222; }
h1 { font-size: 1.5em; border-bottom: 1px solid #ccc; padding-bottom: .3em; }
.source { font-size: .85em; color: #666; }
</style>
</head>
<body>
<h1><#TITLE#></h1>
<p class="source">Source: <#ORIG_URL#> &middot; updated <#STAMP_UPDATED#></p>
<#BODY#>
</body>
</html>
');

INSERT INTO TEMPLATE (GUIDE_TYPE, KIND, TEXT) VALUES ('DEFAULT', 'CONCAT',
'<!DOCTYPE html>
<html>
<head>
<meta http-equiv="Content-Type" content="text/html; charset=<#ENCODING#>">
<title><#TITLE#></title>
<style>
body { font-family: sans-serif; margin: 1.5em 2em; line-height: 1.45; color: #222; }
h1 { font-size: 1.6em; }
h2 { font-size: 1.3em; border-bottom: 1px solid #ccc; padding-bottom: .2em; margin-top: 2em; }
</style>
</head>
<body>
<h1><#TITLE#></h1>
<#BODY#>
</body>
</html>
');

INSERT INTO TEMPLATE (GUIDE_TYPE, KIND, TEXT) VALUES ('DEFAULT', 'CONCAT2',
'<div class="document">
<h2><#TITLE#></h2>
<#BODY#>
</div>
');

COMMIT;
