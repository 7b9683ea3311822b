/* Demo documents. The two guides point at the local sample site
   (wayfolio-sample-site --port 8808), a stand-in for the real travel sites;
   "Travel notes" holds a few stored documents to browse before any download. */

INSERT INTO NODE (NODE_ID, TITLE, ORIG_URL, ORIG_ID, GUIDE_TYPE, READ_CONTENT)
VALUES (1, 'EzTrip destination guide', 'http://127.0.0.1:8808/eztrip/destinationguide.html', 'destinationguide', 'EZTRIP', 'Y');
INSERT INTO NODE (NODE_ID, TITLE, ORIG_URL, ORIG_ID, GUIDE_TYPE, READ_CONTENT)
VALUES (2, 'AlphaBeds Europe', 'http://127.0.0.1:8808/alphabeds/europe.html', 'europe', 'ALPHABEDS', 'Y');
INSERT INTO NODE (NODE_ID, TITLE, ORIG_URL, ORIG_ID, GUIDE_TYPE, READ_CONTENT)
VALUES (3, 'Travel notes', 'http://127.0.0.1:8808/', 'notes', 'NOTES', 'N');

INSERT INTO NODE (NODE_ID, TITLE, ORIG_URL, ORIG_ID, GUIDE_TYPE, READ_CONTENT, BODY, ENCODING, STAMP_UPDATED)
VALUES (4, 'Packing list', 'http://127.0.0.1:8808/', 'packing', 'NOTES', 'N',
'<p>What goes into the bag for a week on the road:</p>
<ul><li>passport and a copy of it</li><li>rain jacket</li><li>adapter plug</li>
<li>a paper map of the region</li></ul>', 'utf-8', '2026-01-10 09:00:00');
INSERT INTO NODE (NODE_ID, TITLE, ORIG_URL, ORIG_ID, GUIDE_TYPE, READ_CONTENT, BODY, ENCODING, STAMP_UPDATED)
VALUES (5, 'Lakes district: three days', 'http://127.0.0.1:8808/', 'lakes', 'NOTES', 'N',
'<p><b>Day 1.</b> Arrive by the morning train, walk the north shore to the old mill.</p>
<p><b>Day 2.</b> Ferry across to the island; the church tower opens at ten.</p>
<p><b>Day 3.</b> Ridge path back to town, about five hours with stops.</p>', 'utf-8', '2026-01-12 18:30:00');
INSERT INTO NODE (NODE_ID, TITLE, ORIG_URL, ORIG_ID, GUIDE_TYPE, READ_CONTENT, BODY, ENCODING, STAMP_UPDATED)
VALUES (6, 'Where to sleep', 'http://127.0.0.1:8808/', 'sleep', 'NOTES', 'N',
'<p>Small guesthouses near the harbour fill up first; book a week ahead in summer.</p>', 'utf-8', '2026-01-12 18:45:00');
INSERT INTO NODE (NODE_ID, TITLE, ORIG_URL, ORIG_ID, GUIDE_TYPE, READ_CONTENT, BODY, ENCODING, STAMP_UPDATED)
VALUES (7, 'Caf'||ASCII_CHAR(195)||ASCII_CHAR(169)||'s and markets', 'http://127.0.0.1:8808/', 'cafes', 'NOTES', 'N',
'<p>The Saturday market on the main square sells smoked fish and fresh bread.</p>', 'utf-8', '2026-01-13 08:15:00');

INSERT INTO MASTER_DETAIL (MASTER_ID, DETAIL_ID, ORDER_) VALUES (0, 1, 1);
INSERT INTO MASTER_DETAIL (MASTER_ID, DETAIL_ID, ORDER_) VALUES (0, 2, 2);
INSERT INTO MASTER_DETAIL (MASTER_ID, DETAIL_ID, ORDER_) VALUES (0, 3, 3);
INSERT INTO MASTER_DETAIL (MASTER_ID, DETAIL_ID, ORDER_) VALUES (3, 4, 1);
INSERT INTO MASTER_DETAIL (MASTER_ID, DETAIL_ID, ORDER_) VALUES (3, 5, 2);
INSERT INTO MASTER_DETAIL (MASTER_ID, DETAIL_ID, ORDER_) VALUES (5, 6, 1);
INSERT INTO MASTER_DETAIL (MASTER_ID, DETAIL_ID, ORDER_) VALUES (5, 7, 2);

ALTER SEQUENCE NODE_ID RESTART WITH 100;

COMMIT;
